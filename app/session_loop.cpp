// Start-up, the choice of start mode and the loop of launcher window and streams.
#include "app/session_loop.h"

#include <SDL.h>
#include <sodium.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "app/connect_attempt.h"
#include "app/event_loop.h"
#include "app/overlay_callbacks.h"
#include "app/session_info_poller.h"
#include "app/shutdown_signal.h"
#include "app/url_scheme_registration.h"
#include "app/window_status.h"
#include "common/log_text.h"
#include "common/logging.h"
#include "input/input_capture.h"
#include "input/input_window_context.h"
#include "session/launcher.h"
#include "ui/live_session_info.h"
#include "ui/native_launcher.h"
#include "ui/overlay_imgui.h"
#include "video/platform_video.h"

namespace nb {

namespace {

// How long the window stays up to say why a stream ended or never started.
constexpr int64_t k_notice_hold_ms = 1500;
constexpr const char* k_connection_lost = "Connection to the PC was lost";

enum class StreamOutcome {
    ended,      // the user closed the window, a signal came, or the attempt was given up
    lost,       // the agent's control connection failed or closed
    fatal,
};

// One stream in its own SDL window, from SDL start-up to SDL shut-down.
StreamOutcome run_stream(const ConnectionParams& params, const BackendAccess& backend) {
    spdlog::debug("Initializing SDL2...");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        spdlog::critical("SDL_Init failed: {}", SDL_GetError());
        return StreamOutcome::fatal;
    }
    spdlog::debug("SDL2 initialized");

    const uint32_t video_window_flags = prepare_platform_video_window();
    spdlog::debug("Creating SDL window {}x{}", params.width, params.height);
    SDL_Window* window = SDL_CreateWindow(k_window_title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, params.width,
                                          params.height,
                                          SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI |
                                              video_window_flags);
    if (!window) {
        spdlog::critical("SDL_CreateWindow failed: {}", SDL_GetError());
        SDL_Quit();
        return StreamOutcome::fatal;
    }
    spdlog::debug("SDL window created");

    SDL_RaiseWindow(window);
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    ui::OverlayImGui overlay;
    install_shutdown_signal_handler();

    spdlog::debug("Creating Launcher instance...");
    auto launcher = std::make_unique<Launcher>(tuning_from_environment());
    if (sodium_init() < 0) spdlog::critical("Launcher: libsodium init failed");

    spdlog::info("Starting connect pipeline...");
    const ConnectAttempt::Result attempt = ConnectAttempt(window, *launcher).run(params);
    if (attempt != ConnectAttempt::Result::connected || !launcher->start_streaming(params, window)) {
        const bool given_up = attempt == ConnectAttempt::Result::closed_by_user ||
                              attempt == ConnectAttempt::Result::stopped_by_signal;
        if (!given_up) {
            spdlog::critical("Failed to connect to agent");
            const std::string& advice = launcher->connect_failure();
            hold_window_status(window, advice.empty() ? "Could not start the stream, see launcher.log" : advice,
                               k_notice_hold_ms);
        }
        launcher.reset();
        SDL_DestroyWindow(window);
        SDL_Quit();
        return given_up ? StreamOutcome::ended : StreamOutcome::fatal;
    }

    // The pointer stays free while connecting, for the Cancel button; the
    // stream takes it.
    SDL_SetWindowGrab(window, SDL_TRUE);
    SDL_ShowCursor(SDL_DISABLE);
    if (SDL_SetRelativeMouseMode(SDL_TRUE) != 0) {
        spdlog::warn("SDL_SetRelativeMouseMode failed: {}", SDL_GetError());
    }

    // The input hook: records leave the moment SDL pumps their event, unless
    // the overlay owns the input.
    InputWindowContext input_context;
    input_context.input_paused = [&launcher] { return launcher->overlay_visible(); };
    input_context.on_input = [&launcher](IInputCapture&) { launcher->send_pending_input(); };
    const bool hooked = attach_input_context(window, &input_context);
    if (hooked) spdlog::info("Input hook attached to the streaming window for direct input handling");

    // The event loop sees running() go false and ends the stream; the event
    // only wakes it should it be waiting.
    launcher->set_on_connection_lost([] {
        SDL_Event wake{};
        wake.type = SDL_USEREVENT;
        SDL_PushEvent(&wake);
    });

    // Until the backend first answers, the overlay counts the session time
    // from its own start. A direct start has no backend to ask.
    ui::LiveSessionRecord live_session;
    live_session.reset();
    SessionInfoPoller poller(live_session);
    poller.start(backend, [&launcher] { return launcher->running(); });
    attach_overlay(overlay, *launcher, params, live_session);

    std::thread pipeline([&launcher] {
        try {
            launcher->run();
        } catch (const std::exception& e) {
            spdlog::critical("Pipeline thread exception: {}", log_safe(e.what()));
        } catch (...) {
            spdlog::critical("Pipeline thread: unknown exception");
        }
    });

    spdlog::info("Entering SDL event loop");
    run_event_loop(window, *launcher, &overlay);

    spdlog::info("Streaming session ended — cleaning up...");
    detach_overlay(overlay, *launcher);
    launcher->shutdown();
    pipeline.join();
    poller.stop();
    if (hooked) detach_input_context(window);
    const bool lost = launcher->connection_lost();
    launcher.reset();
    if (lost) {
        hold_window_status(window, k_connection_lost, k_notice_hold_ms);
    }
    SDL_DestroyWindow(window);
    SDL_Quit();
    spdlog::info("Session ended — returning to launcher");
    return lost ? StreamOutcome::lost : StreamOutcome::ended;
}

}  // namespace

int run_client(int argc, char** argv) {
    // Help, version and mistakes are answered before logging starts, so they
    // print cleanly and leave no log file behind.
    const CommandLine cli = read_command_line(argc, argv);
    switch (cli.action) {
    case CommandLine::Action::help:
        std::fputs(command_line_usage().c_str(), stdout);
        return 0;
    case CommandLine::Action::version:
        std::printf("Nubora Launcher v%.*s\n", static_cast<int>(k_client_version.size()), k_client_version.data());
        return 0;
    case CommandLine::Action::invalid:
        std::fprintf(stderr, "nubora-launcher: %s\n\n%s", cli.error.c_str(), command_line_usage().c_str());
        return 2;
    default:
        break;
    }

    setup_logging();
    spdlog::info("Nubora Launcher v{}", k_client_version);
    register_url_scheme();

    ConnectionParams active;
    BackendAccess backend;  // stays empty after a direct start
    std::string pending_deep_link;
    bool direct = false;
    if (cli.action == CommandLine::Action::deep_link) {
        ConnectionParams from_link = cli.params;
        if (parse_connection_uri(cli.deep_link, from_link)) pending_deep_link = cli.deep_link;
    } else if (cli.action == CommandLine::Action::stream) {
        active = cli.params;
        direct = true;
        spdlog::info("CLI args parsed — direct connect (no welcome window)");
    }

    // Our handler owns SIGINT and SIGTERM from the start (SDL then keeps its
    // own out), so the launcher window and streams see one flag.
    install_shutdown_signal_handler();
    ui::NativeLauncher launcher_window;
    launcher_window.set_shutdown_check(shutdown_requested);
    if (const char* saas = std::getenv("NB_SAAS_URL"); saas && *saas) {
        launcher_window.set_backend_host(saas);
        spdlog::info("SaaS URL from NB_SAAS_URL: {}", log_safe(saas));
    }
    if (!pending_deep_link.empty()) {
        spdlog::info("URI launch detected — pre-loading for auto-connect");
        launcher_window.set_deep_link(pending_deep_link);
        pending_deep_link.clear();
    }

    std::string notice;
    for (bool first_pass = true;; first_pass = false) {
        if (shutdown_requested()) {
            spdlog::info("Shutdown signal received — exiting launcher");
            return 0;
        }
        if (!(first_pass && direct)) {
            if (!notice.empty()) {
                launcher_window.notify_session_ended(notice);
                notice.clear();
            }
            const ui::NativeLauncher::Result result = launcher_window.show();
            if (!result.connect || result.quit) {
                spdlog::info("Launcher closed — exiting");
                return 0;
            }
            active = result.params;
            backend = {result.backend, result.api_token, result.use_https};
        }
        spdlog::info("Connecting to {}:{} ({}x{} @{}fps, codec={}, bitrate={}kbps)", log_safe(active.host), active.port,
                     active.width, active.height, active.fps, codec_name(active.codec), active.bitrate);
        const StreamOutcome outcome = run_stream(active, backend);
        if (outcome == StreamOutcome::fatal) return 1;
        // A stream started from the command line has no launcher window to
        // come back to with the bad news: the exit status carries it.
        if (outcome == StreamOutcome::lost && first_pass && direct && !shutdown_requested()) return 1;
        notice = outcome == StreamOutcome::lost ? k_connection_lost : "Session ended";
    }
}

}  // namespace nb
