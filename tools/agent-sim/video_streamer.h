// The agent's video thread: at the session's frame rate it renders the
// scene (or takes the next unit of a prepared file), encodes, packetizes
// with repair packets, applies the configured impairment and sends the
// datagrams to the endpoint the client's probes announced.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tools/agent-sim/agent_options.h"
#include "tools/agent-sim/annexb_file.h"
#include "tools/agent-sim/control_handler.h"
#include "tools/agent-sim/event_log.h"
#include "tools/agent-sim/media_channel.h"
#include "tools/agent-sim/stream_session.h"

namespace nb {

class VideoStreamer {
public:
    VideoStreamer(const AgentOptions& options, MediaChannel& channel, EventLog& events);
    ~VideoStreamer();

    // Loads the prepared file if one is configured and starts the thread.
    bool start();
    void stop();

    // The session to stream for; nullptr pauses. Any thread.
    void set_session(std::shared_ptr<const StreamSession> session);
    // The next frame sent is a key frame. Any thread.
    void request_idr() { idr_requested_.store(true); }
    // Checks and queues a settings change for the next frame. Any thread.
    bool apply_settings(const SettingsRequest& request, std::string& error);

    // Frame size limits the scene and the encoders accept.
    static bool valid_size(int width, int height, std::string& error);

    uint64_t frames_sent() const { return frames_sent_.load(); }
    bool streams_file() const { return file_ != nullptr; }
    VideoCodec file_codec() const { return options_.annexb_codec; }

private:
    void run();

    const AgentOptions& options_;
    MediaChannel& channel_;
    EventLog& events_;
    std::unique_ptr<AnnexBFile> file_;
    std::thread thread_;

    std::mutex mutex_;  // guards the pending fields below and wakes the thread
    std::condition_variable wake_;
    bool stopping_ = false;
    std::shared_ptr<const StreamSession> pending_session_;
    bool session_changed_ = false;
    std::optional<int> pending_bitrate_;
    std::optional<std::pair<int, int>> pending_size_;

    std::atomic<bool> idr_requested_{false};
    std::atomic<uint64_t> frames_sent_{0};
};

}  // namespace nb
