// nubora-backend-sim: serves the test marketplace until SIGINT, SIGTERM or
// the configured idle time ends it.
#include <signal.h>
#include <spdlog/spdlog.h>

#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/logging.h"
#include "tools/backend-sim/backend_server.h"

namespace {

// Written under a temporary name and renamed, so a script that sees the
// file never reads half a number.
bool write_port_file(const std::string& path, int port) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << "\n";
        if (!out.flush()) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

// Waits for SIGINT/SIGTERM, or until no request has come for `idle_s`.
void wait_for_end(const sigset_t& signals, const nb::BackendServer& server, double idle_s) {
    for (;;) {
        int signal = 0;
        if (idle_s <= 0) {
            if (sigwait(&signals, &signal) == 0) {
                spdlog::info("nubora-backend-sim: signal {} received, stopping", signal);
                return;
            }
            continue;
        }
        const int64_t idle_ms = static_cast<int64_t>(std::llround(idle_s * 1000));
        const int64_t left_ms = server.last_request_ms() + idle_ms - nb::steady_now_ms();
        if (left_ms <= 0) {
            spdlog::info("nubora-backend-sim: no request for {} s, stopping", idle_s);
            return;
        }
        const timespec wait{static_cast<time_t>(left_ms / 1000), static_cast<long>(left_ms % 1000) * 1'000'000};
        signal = sigtimedwait(&signals, nullptr, &wait);
        if (signal > 0) {
            spdlog::info("nubora-backend-sim: signal {} received, stopping", signal);
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const nb::ParsedBackendOptions parsed = nb::parse_backend_options(argc, argv);
    if (parsed.help) {
        std::fputs(nb::backend_usage().c_str(), stdout);
        return 0;
    }
    if (!parsed.ok) {
        std::fprintf(stderr, "nubora-backend-sim: %s\n", parsed.error.c_str());
        return 2;
    }
    // Blocked before any thread starts, so every thread inherits the mask and
    // only wait_for_end receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A client that hangs up mid-answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    nb::setup_logging("nubora-backend-sim.log");
    spdlog::set_level(static_cast<spdlog::level::level_enum>(nb::log_level_from_text(parsed.options.log_level)));
    try {
        nb::BackendServer server(parsed.options);
        if (!server.start()) {
            spdlog::error("nubora-backend-sim: could not start, see the lines above");
            return 1;
        }
        if (!parsed.options.port_file.empty() && !write_port_file(parsed.options.port_file, server.port())) {
            spdlog::error("nubora-backend-sim: cannot write {}", parsed.options.port_file);
            return 1;
        }
        // Scripts and tests wait for this line: the port file exists by now.
        spdlog::info("nubora-backend-sim: ready on {}://{}:{}", server.https() ? "https" : "http",
                     parsed.options.bind_address, server.port());
        wait_for_end(signals, server, parsed.options.idle_exit_s);
        server.stop();
    } catch (const std::exception& e) {
        spdlog::critical("nubora-backend-sim: {}", e.what());
        return 1;
    }
    spdlog::info("nubora-backend-sim: stopped");
    return 0;
}
