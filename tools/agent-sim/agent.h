// The test streaming agent: control channel, probe-learned media endpoints,
// video and audio streams, input reception and the event log, wired
// together. One authenticated client at a time; a newer one supersedes it.
#pragma once

#include <asio/io_context.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "tools/agent-sim/agent_options.h"
#include "tools/agent-sim/audio_streamer.h"
#include "tools/agent-sim/control_server.h"
#include "tools/agent-sim/event_log.h"
#include "tools/agent-sim/input_listener.h"
#include "tools/agent-sim/media_channel.h"
#include "tools/agent-sim/video_streamer.h"

namespace nb {

class Agent : public IControlHandler {
public:
    explicit Agent(AgentOptions options);
    ~Agent() override;
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    // Opens the event log and every socket and starts the threads. False,
    // with the cause logged, when any of them fails; nothing is left running.
    bool start();
    // Idempotent: stops the streams, closes every socket, joins the threads
    // and writes the closing event.
    void stop();

    // Actual ports (useful when the options asked for port 0).
    uint16_t control_port() const { return control_port_; }
    uint16_t video_port() const { return video_.port(); }
    uint16_t audio_port() const { return audio_.port(); }
    uint16_t input_port() const { return input_.port(); }

    std::shared_ptr<const StreamSession> session() const;
    uint64_t frames_sent() const { return video_streamer_.frames_sent(); }
    uint64_t audio_packets_sent() const { return audio_streamer_.packets_sent(); }
    uint64_t input_records() const { return input_.records_accepted(); }

    // IControlHandler, called on the I/O thread.
    std::shared_ptr<const StreamSession> authenticate(uint64_t connection, const AuthRequest& request,
                                                      std::string& error) override;
    void request_idr(uint64_t connection) override;
    bool apply_settings(uint64_t connection, const SettingsRequest& request, std::string& error) override;
    void connection_closed(uint64_t connection) override;

private:
    void end_session(const char* reason);
    bool is_active(uint64_t connection) const;

    const AgentOptions options_;
    EventLog events_;
    asio::io_context io_;
    ControlServer control_;
    MediaChannel video_;
    MediaChannel audio_;
    InputListener input_;
    VideoStreamer video_streamer_;
    AudioStreamer audio_streamer_;
    std::thread io_thread_;
    uint16_t control_port_ = 0;
    bool started_ = false;
    bool stopped_ = false;

    mutable std::mutex session_mutex_;  // guards the two fields below
    std::shared_ptr<const StreamSession> session_;
    uint64_t session_connection_ = 0;
    uint64_t sessions_created_ = 0;  // I/O thread only
};

}  // namespace nb
