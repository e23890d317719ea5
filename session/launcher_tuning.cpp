#include "session/launcher_tuning.h"

#include <spdlog/spdlog.h>

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace nb {

namespace {

bool read_env_int(const char* name, int64_t min, int64_t max, int64_t& out) {
    const char* text = std::getenv(name);
    if (!text || !*text) return false;
    const std::string_view view(text);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error != std::errc() || end != view.data() + view.size() || value < min || value > max) {
        spdlog::warn("Launcher: ignoring {}='{}' (expected {}..{})", name, view, min, max);
        return false;
    }
    out = value;
    return true;
}

}  // namespace

LauncherTuning tuning_from_environment() {
    LauncherTuning tuning;
    int64_t value = 0;
    if (read_env_int("NB_CONNECT_ATTEMPTS", 1, 1000, value)) tuning.control.connect_attempts = static_cast<int>(value);
    if (read_env_int("NB_CONNECT_RETRY_MS", 0, 60000, value)) tuning.control.connect_retry_pause_ms = value;
    if (const char* trace = std::getenv("NUBORA_FRAME_TRACE"); trace && *trace) tuning.frame_trace_path = trace;
    return tuning;
}

std::shared_ptr<UdpReceiver> open_receiver(asio::io_context& io, uint16_t port, const LauncherTuning& tuning) {
    try {
        return UdpReceiver::create(io, port, tuning.probe_timing, tuning.udp_bind_address);
    } catch (const std::exception& e) {
        spdlog::error("Launcher: cannot open UDP port {}: {}", port, e.what());
        return nullptr;
    }
}

}  // namespace nb
