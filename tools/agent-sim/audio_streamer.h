// The agent's audio thread: every 20 ms, on an absolute schedule, one Opus
// packet of the tone (or file) sealed with the audio key and sent to the
// endpoint the client's audio probes announced.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "tools/agent-sim/agent_options.h"
#include "tools/agent-sim/audio_source.h"
#include "tools/agent-sim/event_log.h"
#include "tools/agent-sim/media_channel.h"
#include "tools/agent-sim/stream_session.h"

namespace nb {

class AudioStreamer {
public:
    AudioStreamer(const AgentOptions& options, MediaChannel& channel, EventLog& events);
    ~AudioStreamer();

    // Opens the source and the encoder and starts the thread.
    bool start();
    void stop();
    void set_session(std::shared_ptr<const StreamSession> session);

    uint64_t packets_sent() const { return packets_sent_.load(); }

private:
    void run();

    const AgentOptions& options_;
    MediaChannel& channel_;
    EventLog& events_;
    AudioSource source_;
    std::thread thread_;

    std::mutex mutex_;  // guards the fields below and wakes the thread
    std::condition_variable wake_;
    bool stopping_ = false;
    std::shared_ptr<const StreamSession> pending_session_;
    bool session_changed_ = false;

    std::atomic<uint64_t> packets_sent_{0};
};

}  // namespace nb
