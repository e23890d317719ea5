// A scripted marketplace backend for the launcher's flow and window tests:
// canned answers per call, and a count of the calls each received.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <utility>
#include <string>

#include "tests/support/temp_folder.h"
#include "ui/config_store.h"
#include "ui/launcher_actions.h"
#include "ui/launcher_backend.h"
#include "ui/launcher_impl.h"
#include "ui/native_launcher.h"

namespace nb::test {

struct ScriptedBackend {
    ui::AuthResult auth{true, "tok-1", "u1", "Ada", "ada@example.com", "client", 1050, ""};
    ui::UserProfile profile{true, 2500, "Ada L.", "", "", ""};
    ui::ServerListResult list{true, {}, 0, ""};
    ui::CreateSessionResult created{true, "s-1", "preparing", ""};
    ui::ActiveSession active{true, "s-1", "streaming", 3725, 1234, "rig-1", ""};
    ui::ConnectInfo connect{};
    bool end_ok = true;

    // What the calls were given, for the assertions.
    std::string last_role;
    std::string last_sort;
    std::string last_server_id;
    std::string last_codec;
    std::string last_backend;
    std::atomic<int> calls{0};
    std::mutex lock;  // guards the last_* fields, written on worker threads

    // Calls whose other arguments do not matter to the tests take them as `...`.
    ui::BackendApi api() {
        ui::BackendApi calls_api;
        calls_api.login = [this](const std::string& backend, auto&&...) { return note(backend, auth); };
        calls_api.register_account = [this](const std::string& backend, const std::string&, const std::string&,
                                            const std::string&, const std::string& role, bool) {
            return note(backend, auth, {{&last_role, role}});
        };
        calls_api.fetch_profile = [this](const std::string& backend, auto&&...) { return note(backend, profile); };
        calls_api.list_servers = [this](const std::string& backend, const std::string&, int32_t, int32_t,
                                        const std::string& sort, bool) {
            return note(backend, list, {{&last_sort, sort}});
        };
        calls_api.create_session = [this](const std::string& backend, const std::string&, const std::string& id,
                                          const std::string& codec, bool) {
            return note(backend, created, {{&last_server_id, id}, {&last_codec, codec}});
        };
        calls_api.get_active_session = [this](const std::string& backend, auto&&...) { return note(backend, active); };
        calls_api.get_connect_info = [this](const std::string& backend, auto&&...) { return note(backend, connect); };
        calls_api.end_session = [this](const std::string& backend, auto&&...) { return note(backend, end_ok); };
        return calls_api;
    }

private:
    // Counts the call, keeps what it was given and hands back the canned answer.
    template <typename Answer>
    Answer note(const std::string& backend, const Answer& answer,
                std::initializer_list<std::pair<std::string*, std::string>> given = {}) {
        std::lock_guard guard(lock);
        ++calls;
        last_backend = backend;
        for (const auto& [field, value] : given) *field = value;
        return answer;
    }
};

// A configuration file and token key of the test's own.
inline ui::ConfigStore folder_store(const TempFolder& folder) {
    return ui::ConfigStore(folder / "Nubora" / "config.json", ui::TokenSeal(folder / "token.key"));
}

// What the user types into the sign-in form.
inline void type_credentials(ui::NativeLauncher::Impl& impl, const char* email, const char* password) {
    std::snprintf(impl.email_input.data(), impl.email_input.size(), "%s", email);
    std::snprintf(impl.password_input.data(), impl.password_input.size(), "%s", password);
}

// Waits for every slot's worker and applies what arrived, as the next frame
// would.
inline void settle(ui::NativeLauncher::Impl& impl) {
    for (ui::AsyncOp* op : {&impl.auth_op, &impl.browse_op, &impl.session_op, &impl.profile_op}) op->join();
    ui::apply_ready_results(impl);
}

inline ui::ServerInfo make_server(std::string id, std::string gpu, std::string status, int32_t price_cents,
                                  float rating) {
    ui::ServerInfo server;
    server.id = std::move(id);
    server.hostname = "rig-" + server.id;
    server.gpu_model = std::move(gpu);
    server.gpu_vram_mb = 24576;
    server.cpu_model = "Ryzen 9 7950X";
    server.ram_mb = 65536;
    server.status = std::move(status);
    server.price_per_hour_cents = price_cents;
    server.max_resolution = "3840x2160";
    server.max_fps = 144;
    server.supported_codecs = {"h264", "h265"};
    server.rating = rating;
    server.total_sessions = 42;
    return server;
}

// Starts an action as a click would and applies its answer as the next
// frame would; fails when the action refused to start.
inline ::testing::AssertionResult act(ui::NativeLauncher::Impl& impl, bool (*start)(ui::NativeLauncher::Impl&)) {
    if (!start(impl)) return ::testing::AssertionFailure() << "the action did not start";
    settle(impl);
    return ::testing::AssertionSuccess();
}

// A user signed in as a restored session would be.
inline void sign_in_as(ui::NativeLauncher::Impl& impl, std::string name, int64_t balance_cents) {
    impl.logged_in = true;
    impl.token = "tok-1";
    impl.display_name = std::move(name);
    impl.email = "ada@example.com";
    impl.balance_cents = balance_cents;
    impl.screen = ui::Screen::Browse;
}

}  // namespace nb::test
