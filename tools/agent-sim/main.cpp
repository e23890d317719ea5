// nubora-agent-sim: runs the test streaming agent until a signal or the
// configured duration ends it.
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

#include "common/logging.h"
#include "tools/agent-sim/agent.h"

int main(int argc, char** argv) {
    const nb::ParsedOptions parsed = nb::parse_agent_options(argc, argv);
    if (parsed.help) {
        std::fputs(nb::agent_usage().c_str(), stdout);
        return 0;
    }
    if (!parsed.ok) {
        std::fprintf(stderr, "nubora-agent-sim: %s\n", parsed.error.c_str());
        return 2;
    }
    nb::setup_logging("nubora-agent-sim.log");
    spdlog::set_level(static_cast<spdlog::level::level_enum>(nb::log_level_from_text(parsed.options.log_level)));
    // The encoders' own chatter would drown the agent's lines.
    av_log_set_level(AV_LOG_ERROR);

    try {
        nb::Agent agent(parsed.options);
        if (!agent.start()) {
            spdlog::error("nubora-agent-sim: could not start, see the lines above");
            return 1;
        }
        asio::io_context io;
        asio::signal_set signals(io, SIGINT, SIGTERM);
        asio::steady_timer deadline(io);
        signals.async_wait([&](const asio::error_code& error, int signal) {
            if (error) return;
            spdlog::info("nubora-agent-sim: signal {} received, stopping", signal);
            deadline.cancel();
        });
        if (parsed.options.duration_s > 0) {
            deadline.expires_after(std::chrono::microseconds(static_cast<int64_t>(parsed.options.duration_s * 1e6)));
            deadline.async_wait([&](const asio::error_code& error) {
                if (error) return;
                spdlog::info("nubora-agent-sim: {} s elapsed, stopping", parsed.options.duration_s);
                signals.cancel();
            });
        }
        io.run();
        agent.stop();
    } catch (const std::exception& e) {
        spdlog::critical("nubora-agent-sim: {}", e.what());
        return 1;
    }
    return 0;
}
