// What each marketplace backend call hands back: plain values, `ok` first and
// a text for the user last.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nb::ui {

struct AuthResult {
    bool ok = false;
    std::string token;
    std::string user_id;
    std::string display_name;
    std::string email;
    std::string role;
    int64_t balance_cents = 0;
    std::string error;
};

struct UserProfile {
    bool ok = false;
    int64_t balance_cents = 0;
    std::string display_name;
    std::string email;
    std::string role;
    std::string error;
};

// One rentable PC of the catalogue.
struct ServerInfo {
    std::string id;
    std::string hostname;
    std::string gpu_model;
    int32_t gpu_vram_mb = 0;
    std::string cpu_model;
    int32_t ram_mb = 0;
    // "online", "in_session"; anything else counts as offline.
    std::string status = "offline";
    int32_t price_per_hour_cents = 0;
    std::string max_resolution;
    int32_t max_fps = 0;
    std::vector<std::string> supported_codecs;
    float rating = 0.0f;
    int32_t total_sessions = 0;
    int32_t live_fps = 0;
    int32_t latency_ms = 0;
};

struct ServerListResult {
    bool ok = false;
    std::vector<ServerInfo> servers;
    int32_t total = 0;
    std::string error;
};

struct CreateSessionResult {
    bool ok = false;
    std::string session_id;
    std::string status;
    std::string error;
};

struct ActiveSession {
    bool ok = false;
    std::string id;
    std::string status;
    int32_t duration_sec = 0;
    int64_t cost_cents = 0;
    std::string server_hostname;
    std::string error;
};

// What the rented PC's agent expects from this client.
struct ConnectInfo {
    static constexpr uint16_t k_default_port = 47998;

    bool ok = false;
    std::string session_id;
    std::string status;
    std::string token;
    std::string host;
    uint16_t port = k_default_port;
    uint16_t control_port = k_default_port + 3;
    std::string codec = "h264";
    int32_t fps = 60;
    int32_t bitrate = 30000;  // kbit/s
    std::string error;
};

}  // namespace nb::ui
