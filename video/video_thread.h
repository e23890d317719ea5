// The session's video thread: the one owner of the decoder, the renderer
// with its GL context, and the overlay's drawing. Completed frames arrive in
// frame_id order through a small bounded queue; each is decoded in turn and
// only the newest decoded picture is drawn. Everything else that touches
// the window's picture (resize, overlay set-up and redraws) is posted here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "common/connection_params.h"
#include "net/completed_frame.h"
#include "video/frame_time_history.h"
#include "video/frame_timing.h"
#include "video/key_frame_requester.h"
#include "video/recent_window.h"
#include "video/renderer.h"
#include "video/video_decoder.h"

struct SDL_Window;

namespace nb {

// What the overlay shows about the picture path, measured here.
struct VideoFigures {
    float presented_fps = 0.0f;  // pictures presented during the last second
    float decode_ms = 0.0f;      // mean decode time of the last second's frames
    float video_kbps = 0.0f;     // access units received during the last second
    uint64_t presented = 0;      // since the start of the stream
    uint64_t decoded = 0;
    uint64_t skipped = 0;
    // Each picture presented during the last two seconds, oldest first: its
    // decode time and the time from its last packet to the present, in ms.
    // Valid during the draw call only.
    std::span<const float> decode_history_ms{};
    std::span<const float> total_history_ms{};
};

class VideoThread {
public:
    // Frames waiting for the decoder: a second at 60 fps, enough to ride out
    // a slow present or a busy machine, since waiting frames are decoded
    // without being drawn. Beyond it, dropping and asking for a key frame
    // recovers sooner than catching up would.
    static constexpr size_t k_queue_frames = 60;
    // And their bytes, whatever the bit rate.
    static constexpr size_t k_queue_bytes = 32 * 1024 * 1024;
    // A frozen stream's overlay is redrawn once no picture came for this
    // long, at most this often.
    static constexpr int64_t k_overlay_refresh_after_present_us = 50'000;
    static constexpr int64_t k_overlay_refresh_spacing_us = 33'000;
    // A decoded picture is drawn even with a newer frame waiting once none
    // was drawn for this long: a decoder that never catches up (a slow
    // machine, a burst) still moves the picture, rather than decoding
    // behind a black or frozen window. The first picture is always drawn.
    static constexpr int64_t k_max_present_gap_us = 100'000;

    struct Hooks {
        std::function<void()> request_key_frame;  // one "request_idr" on the control channel
        std::function<float()> rtt_ms;            // latest round trip, for the request spacing
        std::function<void()> picture_decoded;    // counted by the statistics
        IFrameTimingSink* timing_sink = nullptr;  // benchmarks and the frame trace
        int64_t max_present_gap_us = k_max_present_gap_us;
    };
    using OverlayDraw = std::function<void(const VideoFigures&)>;
    using Task = std::function<void(IRenderer&)>;

    VideoThread(std::unique_ptr<IRenderer> renderer, std::unique_ptr<IVideoDecoder> decoder, Hooks hooks);
    ~VideoThread();
    VideoThread(const VideoThread&) = delete;
    VideoThread& operator=(const VideoThread&) = delete;

    // Starts the thread, which sets up renderer and decoder and asks for the
    // first key frame. False, with the cause logged, when either fails.
    bool start(SDL_Window* window, VideoCodec codec, uint32_t width, uint32_t height);
    // Idempotent. Runs the tasks still posted, abandons queued frames, shuts
    // the decoder and the renderer down on the thread and joins it.
    void stop();

    // Any thread, never blocks; called in frame_id order (under the
    // depacketizer's lock).
    void submit(CompletedFrame&& frame);

    // Runs `task` on the thread after what was posted before it. False when
    // the thread no longer takes work.
    bool post(Task task);
    // As post, and waits until it has run.
    bool run_and_wait(Task task);

    void set_overlay_draw(OverlayDraw draw);
    // A shown panel is kept alive over a frozen picture; hiding it redraws
    // the picture without it.
    void set_overlay_visible(bool visible);
    void resize(uint32_t width, uint32_t height);

    uint64_t frames_presented() const { return presented_.load(std::memory_order_relaxed); }
    uint64_t frames_decoded() const { return decoded_.load(std::memory_order_relaxed); }
    uint64_t frames_skipped() const { return skipped_.load(std::memory_order_relaxed); }
    uint64_t frames_dropped() const { return dropped_.load(std::memory_order_relaxed); }
    int64_t last_present_us() const { return last_present_us_.load(std::memory_order_relaxed); }

private:
    struct Queued {
        CompletedFrame frame;
        int64_t queued_us = 0;
    };

    void body();
    bool set_up(SDL_Window* window, VideoCodec codec, uint32_t width, uint32_t height);
    void loop();
    void run_tasks(std::vector<Task>& tasks);
    void handle(Queued& queued);
    bool newer_frame_waiting();
    void present(const Picture& picture, FrameTiming& timing);
    void refresh_overlay();
    int64_t next_refresh_us() const;
    VideoFigures figures();

    std::unique_ptr<IRenderer> renderer_;
    std::unique_ptr<IVideoDecoder> decoder_;
    Hooks hooks_;
    std::thread thread_;

    // Guards frames_, queued_bytes_, tasks_, accepting_ and stopping_. Lock order: the
    // depacketizer's lock, then this one; nothing is called while it is held.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Queued> frames_;
    size_t queued_bytes_ = 0;
    std::vector<Task> tasks_;
    bool accepting_ = false;
    bool stopping_ = false;

    // Video thread only.
    KeyFrameRequester requester_;
    OverlayDraw overlay_draw_;
    bool overlay_visible_ = false;
    int64_t last_refresh_us_ = 0;
    RecentWindow presented_window_;
    RecentWindow decode_window_;  // decode time, µs
    RecentWindow bytes_window_;   // access-unit bytes
    FrameTimeHistory frame_times_;
    std::vector<float> decode_history_ms_;  // frame_times_ as figures() last read it
    std::vector<float> total_history_ms_;

    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> presented_{0};
    std::atomic<uint64_t> decoded_{0};
    std::atomic<uint64_t> skipped_{0};  // decoded, not drawn: a newer frame was waiting
    std::atomic<uint64_t> dropped_{0};  // never decoded: the queue was full
    std::atomic<int64_t> last_present_us_{0};
    std::atomic<uint64_t> drop_log_count_{0};
};

}  // namespace nb
