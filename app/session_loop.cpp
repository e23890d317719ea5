// Start-up, the choice of start mode and the loop of launcher window and streams.
#include "app/session_loop.h"

#include <SDL.h>
#include <sodium.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "app/event_loop.h"
#include "app/overlay_callbacks.h"
#include "app/session_info_poller.h"
#include "app/shutdown_signal.h"
#include "common/logging.h"
#include "input/input_capture.h"
#include "input/input_window_context.h"
#include "session/launcher.h"
#include "ui/live_session_info.h"
#include "ui/native_launcher.h"
#include "ui/overlay_imgui.h"
#include "video/gl_renderer.h"

namespace nb {

namespace {

constexpr const char* k_version = "0.1.0";

enum class StreamOutcome { ended, fatal };

// Binds the overlay to the renderer's GL context, which set-up needs
// current; the render lock keeps the frame path off the context meanwhile.
void initialize_overlay(ui::OverlayImGui& overlay, Launcher& launcher, const ConnectionParams& params) {
    bool ready = false;
    {
        std::lock_guard lock(launcher.render_lock());
        auto* gl = dynamic_cast<GlRenderer*>(launcher.renderer());
        if (gl && gl->gl_context() && gl->make_current()) {
            ready = overlay.initialize(gl->window(), gl->gl_context(), GlRenderer::k_glsl_version);
            gl->release_current();
        }
    }
    if (!ready) {
        spdlog::warn("OpenGL context not available — overlay disabled");
        return;
    }
    overlay.set_stream_info(params.bitrate, params.fps, params.width, params.height);
    overlay.set_change_callback(make_settings_handler(launcher));
}

// The overlay's GL objects go while the renderer's context still exists:
// unhook the callback, then release them with the context current.
void shutdown_overlay(ui::OverlayImGui& overlay, Launcher& launcher) {
    launcher.set_overlay_draw({});
    std::lock_guard lock(launcher.render_lock());
    auto* gl = dynamic_cast<GlRenderer*>(launcher.renderer());
    const bool current = gl && gl->make_current();
    overlay.shutdown();
    if (current) gl->release_current();
}

// One stream in its own SDL window, from SDL start-up to SDL shut-down.
StreamOutcome run_stream(const ConnectionParams& params, const BackendAccess& backend) {
    spdlog::debug("Initializing SDL2...");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        spdlog::critical("SDL_Init failed: {}", SDL_GetError());
        return StreamOutcome::fatal;
    }
    spdlog::debug("SDL2 initialized");

    GlRenderer::prepare_window_attributes();
    spdlog::debug("Creating SDL window {}x{}", params.width, params.height);
    SDL_Window* window = SDL_CreateWindow("Nubora", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, params.width,
                                          params.height,
                                          SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI |
                                              SDL_WINDOW_OPENGL);
    if (!window) {
        spdlog::critical("SDL_CreateWindow failed: {}", SDL_GetError());
        SDL_Quit();
        return StreamOutcome::fatal;
    }
    spdlog::debug("SDL window created");

    SDL_RaiseWindow(window);
    SDL_SetWindowGrab(window, SDL_TRUE);
    SDL_ShowCursor(SDL_DISABLE);
    if (SDL_SetRelativeMouseMode(SDL_TRUE) != 0) {
        spdlog::warn("SDL_SetRelativeMouseMode failed: {}", SDL_GetError());
    }
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    ui::OverlayImGui overlay;
    install_shutdown_signal_handler();

    spdlog::debug("Creating Launcher instance...");
    auto launcher = std::make_unique<Launcher>(tuning_from_environment());
    if (sodium_init() < 0) spdlog::critical("Launcher: libsodium init failed");

    spdlog::info("Starting connect pipeline...");
    if (!launcher->connect(params, window)) {
        spdlog::critical("Failed to connect to agent");
        SDL_DestroyWindow(window);
        SDL_Quit();
        launcher.reset();
        return StreamOutcome::fatal;
    }

    initialize_overlay(overlay, *launcher, params);

    // The input hook: records leave the moment SDL pumps their event, unless
    // the overlay owns the input.
    InputWindowContext input_context;
    input_context.input_paused = [&launcher] { return launcher->overlay_visible(); };
    input_context.on_input = [&launcher](IInputCapture&) { launcher->send_pending_input(); };
    const bool hooked = attach_input_context(window, &input_context);
    if (hooked) spdlog::info("Input hook attached to the streaming window for direct input handling");

    // Until the backend first answers, the overlay counts the session time
    // from its own start. A direct start has no backend to ask.
    ui::LiveSessionRecord live_session;
    live_session.reset();
    SessionInfoPoller poller(live_session);
    poller.start(backend, [&launcher] { return launcher->running(); });
    launcher->set_overlay_draw(make_overlay_draw(overlay, *launcher, live_session));

    std::thread pipeline([&launcher] {
        try {
            launcher->run();
        } catch (const std::exception& e) {
            spdlog::critical("Pipeline thread exception: {}", e.what());
        } catch (...) {
            spdlog::critical("Pipeline thread: unknown exception");
        }
    });

    spdlog::info("Entering SDL event loop");
    run_event_loop(window, *launcher, &overlay);

    spdlog::info("Streaming session ended — cleaning up...");
    shutdown_overlay(overlay, *launcher);
    launcher->shutdown();
    pipeline.join();
    poller.stop();
    if (hooked) detach_input_context(window);
    launcher.reset();
    SDL_DestroyWindow(window);
    SDL_Quit();
    spdlog::info("Session ended — returning to launcher");
    return StreamOutcome::ended;
}

}  // namespace

int run_client(int argc, char** argv) {
    setup_logging();
    spdlog::info("Nubora Launcher v{}", k_version);
    // The nubora:// scheme registration joins here once the desktop entry exists.

    ConnectionParams active;
    BackendAccess backend;  // stays empty after a direct start
    std::string pending_deep_link;
    bool direct = false;
    ConnectionParams parsed;
    if (parse_command_line(argc, argv, parsed)) {
        for (int i = 1; i < argc; ++i) {
            if (is_connection_uri(argv[i])) {
                pending_deep_link = argv[i];
                break;
            }
        }
        if (pending_deep_link.empty()) {
            active = parsed;
            direct = true;
            spdlog::info("CLI args parsed — direct connect (no welcome window)");
        }
    }

    ui::NativeLauncher launcher_window;
    // After a stream our handler owns SIGINT/SIGTERM, so the window asks.
    launcher_window.set_shutdown_check(shutdown_requested);
    if (const char* saas = std::getenv("NB_SAAS_URL"); saas && *saas) {
        launcher_window.set_backend_host(saas);
        spdlog::info("SaaS URL from NB_SAAS_URL: {}", saas);
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
        spdlog::info("Connecting to {}:{} ({}x{} @{}fps, codec={}, bitrate={}kbps)", active.host, active.port,
                     active.width, active.height, active.fps, codec_number(active.codec), active.bitrate);
        if (run_stream(active, backend) == StreamOutcome::fatal) return 1;
        notice = "Session ended";
    }
}

}  // namespace nb
