// What the control channel asks of the agent. The server parses and checks
// the messages; the agent decides what they mean for the stream.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tools/agent-sim/stream_session.h"

namespace nb {

struct AuthRequest {
    std::string token;
    int codec = 0;
    int fps = 0;
    int width = 0;
    int height = 0;
    int bitrate_kbps = 0;
    std::string udp_ip;
};

struct SettingsRequest {
    std::optional<int> bitrate_kbps;
    std::optional<int> width;
    std::optional<int> height;
};

class IControlHandler {
public:
    virtual ~IControlHandler() = default;
    // A session for an accepted auth, or nullptr with `error` set to the
    // text the client is told.
    virtual std::shared_ptr<const StreamSession> authenticate(uint64_t connection, const AuthRequest& request,
                                                              std::string& error) = 0;
    virtual void request_idr(uint64_t connection) = 0;
    // False, with `error` set, when a value cannot be applied.
    virtual bool apply_settings(uint64_t connection, const SettingsRequest& request, std::string& error) = 0;
    virtual void connection_closed(uint64_t connection) = 0;
};

}  // namespace nb
