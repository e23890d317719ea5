// H.264 and HEVC decoding with FFmpeg's libavcodec, tuned for one picture
// out per access unit. Uses VAAPI when the machine has a GPU render node and
// the driver accepts the stream, libavcodec's software decoders otherwise.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "video/idr_request_policy.h"
#include "video/video_decoder.h"

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace nb {

class LibavDecoder final : public IVideoDecoder {
public:
    struct Options {
        // Try VAAPI when a render node exists. Tests and benchmarks turn it
        // off to measure the software path on machines that have a GPU.
        bool try_hardware = true;
        // Render node to open; empty picks the first /dev/dri/renderD*.
        std::string render_node;
        // Monotonic microseconds; nb::now_us when empty.
        std::function<int64_t()> clock;
        // Slice threads of the software decoder; 0 lets libavcodec choose
        // (one per core, plus one). NUBORA_DECODER_THREADS overrides the
        // default for latency measurements.
        int slice_threads = 0;
    };

    static constexpr int k_pool_size = 4;

    LibavDecoder();
    explicit LibavDecoder(Options options);
    ~LibavDecoder() override;
    LibavDecoder(const LibavDecoder&) = delete;
    LibavDecoder& operator=(const LibavDecoder&) = delete;

    bool initialize(VideoCodec codec, uint32_t width, uint32_t height) override;
    DecodedFrame decode(const uint8_t* data, size_t size, uint32_t frame_id, bool keyframe) override;
    void shutdown() override;
    bool supports_codec(VideoCodec codec) const override;
    // "VAAPI" or "libavcodec" (software), after initialize.
    std::string_view name() const override;
    void set_on_request_idr(std::function<void()> callback) override;

    uint32_t decoded_frames() const;
    uint32_t consecutive_errors() const;
    uint32_t frames_without_output() const;

private:
    struct ContextFree { void operator()(AVCodecContext* p) const; };
    struct FrameFree { void operator()(AVFrame* p) const; };
    struct PacketFree { void operator()(AVPacket* p) const; };
    struct BufferFree { void operator()(AVBufferRef* p) const; };
    struct SwsFree { void operator()(SwsContext* p) const; };

    struct Slot {
        // Holds a reference on the decoder's buffer, or our own buffer when
        // the picture had to be downloaded or converted.
        std::unique_ptr<AVFrame, FrameFree> frame;
        Picture picture;
    };

    void shutdown_locked();
    bool open_hardware(AVCodecContext* ctx);
    void release_pool();
    // One receive step: at most one picture goes into `result`.
    void output_step(DecodedFrame& result, int64_t start_us);
    // Moves or converts the received picture into `slot`; false drops it.
    bool fill_slot(Slot& slot);
    bool convert(const AVFrame& src, AVFrame& dst);
    void note_failed_input(std::string_view reason);
    void apply_stall_policy(const DecodedFrame& result);
    int64_t now() const;

    Options options_;

    // Serialises initialize, decode and shutdown, and guards everything below.
    mutable std::mutex mutex_;
    std::function<void()> on_request_idr_;
    std::unique_ptr<AVCodecContext, ContextFree> context_;
    std::unique_ptr<AVBufferRef, BufferFree> hw_device_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    std::unique_ptr<AVFrame, FrameFree> received_;
    // GPU surfaces of a layout the renderer cannot take land here first.
    std::unique_ptr<AVFrame, FrameFree> download_;
    std::unique_ptr<SwsContext, SwsFree> converter_;
    std::array<Slot, k_pool_size> pool_;
    int pool_index_ = 0;
    uint32_t pool_width_ = 0;
    uint32_t pool_height_ = 0;
    VideoCodec codec_ = VideoCodec::H264;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    bool initialized_ = false;
    uint32_t decoded_frames_ = 0;
    IdrRequestPolicy idr_policy_;
    std::atomic<bool> hardware_{false};
    std::atomic<uint64_t> input_error_log_count_{0};
    std::atomic<uint64_t> output_error_log_count_{0};
    std::atomic<uint64_t> idle_log_count_{0};
};

}  // namespace nb
