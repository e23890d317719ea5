// The backend call records compared member by member, so a test states the
// whole record it expects (absent members at their defaults) and a failure
// prints every member of both.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <tuple>

#include "ui/rest_records.h"

namespace nb::ui {

inline auto fields(const AuthResult& r) {
    return std::tie(r.ok, r.token, r.user_id, r.display_name, r.email, r.role, r.balance_cents, r.error);
}
inline auto fields(const UserProfile& r) {
    return std::tie(r.ok, r.balance_cents, r.display_name, r.email, r.role, r.error);
}
inline auto fields(const ServerInfo& r) {
    return std::tie(r.id, r.hostname, r.gpu_model, r.gpu_vram_mb, r.cpu_model, r.ram_mb, r.status,
                    r.price_per_hour_cents, r.max_resolution, r.max_fps, r.supported_codecs, r.rating,
                    r.total_sessions, r.live_fps, r.latency_ms);
}
inline auto fields(const ActiveSession& r) {
    return std::tie(r.ok, r.id, r.status, r.duration_sec, r.cost_cents, r.server_hostname, r.error);
}
inline auto fields(const ConnectInfo& r) {
    return std::tie(r.ok, r.session_id, r.status, r.token, r.host, r.port, r.control_port, r.codec, r.fps,
                    r.bitrate, r.error);
}

template <typename Record>
    requires requires(const Record& r) { fields(r); }
bool operator==(const Record& a, const Record& b) {
    return fields(a) == fields(b);
}

template <typename Record>
    requires requires(const Record& r) { fields(r); }
void PrintTo(const Record& r, std::ostream* out) {
    *out << ::testing::PrintToString(fields(r));
}

}  // namespace nb::ui
