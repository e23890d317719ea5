// The launcher window's state: who is signed in, what the screens show and
// the four background operation slots. Owned by the UI thread; workers get
// copies of what they need.
#pragma once

#include <imgui.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/async_op.h"
#include "ui/config_store.h"
#include "ui/launcher_backend.h"
#include "ui/native_launcher.h"
#include "ui/rest_records.h"

struct SDL_Window;

namespace nb::ui {

enum class Screen : uint32_t { Auth = 0, Register = 1, Browse = 2, Detail = 3, Session = 4, Settings = 5 };

enum class StatusKind : int32_t { info = 0, success = 1, error = 2 };

using SteadyTime = std::chrono::steady_clock::time_point;

struct StatusMessage {
    std::string text;
    StatusKind kind = StatusKind::info;
    SteadyTime time{};
};

// The four sizes the screens draw with; null until a window exists, and a
// null font draws with ImGui's current one.
struct LauncherFonts {
    ImFont* regular_15 = nullptr;
    ImFont* regular_13 = nullptr;
    ImFont* semibold_17 = nullptr;
    ImFont* semibold_22 = nullptr;
};

struct NativeLauncher::Impl {
    Impl(BackendApi api_calls, ConfigStore config_store)
        : api(std::move(api_calls)), store(std::move(config_store)) {}

    BackendApi api;
    ConfigStore store;
    LauncherFonts fonts;
    Screen screen = Screen::Auth;

    // Form inputs, fixed buffers as ImGui edits them in place.
    std::array<char, 128> email_input{};
    std::array<char, 128> password_input{};
    std::array<char, 64> display_name_input{};
    int32_t role_choice = 0;  // 0 rent, 1 host
    bool remember_me = true;
    bool logged_in = false;

    // The signed-in user.
    std::string token;
    std::string display_name;
    std::string email;
    std::string role{k_default_user_role};
    int64_t balance_cents = 0;

    // Server browser.
    std::vector<ServerInfo> servers;
    int32_t total = 0;
    bool servers_loaded = false;
    std::array<char, 64> gpu_filter{};
    int32_t min_fps = 0;
    int32_t max_price = 0;  // cents per hour
    int32_t sort_choice = 0;  // 0 rating, 1 price
    ServerInfo selected;
    bool selected_announced = false;  // its page has been drawn and logged

    // The rented session.
    std::string session_id;
    std::string session_status;
    int64_t cost_cents = 0;
    int32_t duration_sec = 0;
    bool ending = false;
    // Seconds on the steady clock of the last poll; 0 polls at once.
    double last_poll_s = 0.0;

    // Backend; the scheme follows use_https.
    std::string backend_host{k_default_backend_host};
    bool use_https = false;
    bool settings_saved = false;

    StatusMessage status;
    bool ended = false;
    std::string ended_reason;
    SteadyTime ended_time{};

    std::string deep_link;

    AsyncOp auth_op;
    AsyncOp browse_op;
    AsyncOp session_op;
    AsyncOp profile_op;

    NativeLauncher::Result result;

    // Asked once per frame; true closes the window (a shutdown signal that
    // arrived while the window is up).
    std::function<bool()> shutdown_requested;

    // Called after each presented frame; returning false closes the window
    // as the user would. Lets window tests step through screens frame by
    // frame instead of waiting on a clock.
    std::function<bool(NativeLauncher::Impl&, SDL_Window*)> after_frame;
};

}  // namespace nb::ui
