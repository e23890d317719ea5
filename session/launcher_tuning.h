// Timings and limits of one session. Production values are the defaults;
// tests shorten them so failure paths finish quickly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/session_ports.h"
#include "net/udp_receiver.h"
#include "session/control_channel.h"
#include "session/stats_reporter.h"

namespace nb {

struct LauncherTuning {
    ControlTuning control;       // handshake policy and control message limits
    HostResolver resolver;       // empty: the system's name lookup
    SessionPorts ports;          // the fixed UDP ports of a stream
    ProbeTiming probe_timing;    // hole-punch probe periods
    std::string udp_bind_address = "0.0.0.0";
    StatsTiming stats_timing;    // statistics and ping periods
    std::string frame_trace_path;  // non-empty: per-frame times go to this CSV file
};

// 2 to 4 I/O threads whatever the machine reports.
inline unsigned io_thread_count(unsigned hardware_threads) {
    if (hardware_threads < 2) return 2;
    if (hardware_threads > 4) return 4;
    return hardware_threads;
}

}  // namespace nb

namespace nb {

// Development and test overrides of the connect policy, read from
// NB_CONNECT_ATTEMPTS and NB_CONNECT_RETRY_MS, and the frame trace's file
// from NUBORA_FRAME_TRACE; absent or invalid values keep the production
// defaults (no trace).
LauncherTuning tuning_from_environment();

}  // namespace nb

namespace nb {

// A session's receiver on `port` with the tuning's probe timing and bind
// address; null, with the cause logged, when the port cannot be opened.
std::shared_ptr<UdpReceiver> open_receiver(asio::io_context& io, uint16_t port, const LauncherTuning& tuning);

}  // namespace nb
