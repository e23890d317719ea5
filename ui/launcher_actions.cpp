// Background operations of the launcher window and the steps that apply
// their results on the UI thread.
#include "ui/launcher_actions.h"

#include <spdlog/spdlog.h>

#include "app/command_line.h"
#include "common/log_text.h"
#include "ui/launcher_storage.h"
#include "ui/localisation.h"

namespace nb::ui {

namespace {

using Impl = NativeLauncher::Impl;

constexpr double k_poll_interval_s = 3.0;

// The parts of a sign-in or registration answer both apply alike.
void apply_signed_in(Impl& impl, const AuthResult& auth, bool registration) {
    impl.token = auth.token;
    impl.email = !auth.email.empty() ? auth.email : std::string(impl.email_input.data());
    if (!auth.display_name.empty() || !registration) {
        impl.display_name = auth.display_name;
    } else {
        impl.display_name = impl.display_name_input.data();
    }
    impl.role = auth.role.empty() ? "client" : auth.role;
    impl.balance_cents = auth.balance_cents;
    impl.logged_in = true;
    impl.screen = impl.deep_link.empty() ? Screen::Browse : Screen::Session;
    spdlog::info("NativeLauncher: signed in as {}", log_safe(impl.email));
    // The typed password has done its job; it does not wait in memory for the
    // next sign-in.
    impl.password_input.fill('\0');
    set_status(impl, {}, StatusKind::success);
}

void apply_auth_failure(Impl& impl, const std::string& error) {
    set_status(impl, error.empty() ? texts()[t_invalid_credentials] : error, StatusKind::error);
}

// The hand-over record the session loop gets; the agent's control port is
// the one to dial, the answer's plain `port` is the media port.
void fill_connect_result(Impl& impl, const ConnectInfo& info) {
    NativeLauncher::Result& result = impl.result;
    result.params = ConnectionParams{};
    result.params.host = info.host;
    result.params.port = info.control_port;
    result.params.token = info.token;
    result.params.fps = info.fps;
    result.params.bitrate = info.bitrate;
    result.params.codec = codec_from_text(info.codec);
    result.backend = impl.backend_host;
    result.api_token = impl.token;
    result.use_https = impl.use_https;
    result.connect = true;
}

// A parsed deep link hands over the stream with the backend of this window.
bool connect_from_deep_link(Impl& impl, const std::string& link) {
    ConnectionParams params;
    if (!parse_connection_uri(link, params)) return false;
    impl.result.params = params;
    impl.result.backend = impl.backend_host;
    impl.result.api_token = impl.token;
    impl.result.use_https = impl.use_https;
    impl.result.connect = true;
    return true;
}

}  // namespace

void set_status(Impl& impl, std::string text, StatusKind kind) {
    // Error texts come from the backend: a forged line break or terminal
    // escape would otherwise be drawn as it stands.
    impl.status.text = log_safe(text);
    impl.status.kind = kind;
    impl.status.time = std::chrono::steady_clock::now();
}

void clear_session(Impl& impl) {
    impl.session_id.clear();
    impl.session_status.clear();
}

bool start_sign_in(Impl& impl) {
    return impl.auth_op.launch(
        [api = impl.api.login, host = impl.backend_host, email = std::string(impl.email_input.data()),
         password = std::string(impl.password_input.data()),
         https = impl.use_https] { return api(host, email, password, https); },
        [&impl](AuthResult auth) {
            if (!auth.ok) return apply_auth_failure(impl, auth.error);
            apply_signed_in(impl, auth, false);
            if (impl.remember_me) save_config(impl);
        });
}

bool start_registration(Impl& impl) {
    return impl.auth_op.launch(
        [api = impl.api.register_account, host = impl.backend_host, email = std::string(impl.email_input.data()),
         password = std::string(impl.password_input.data()), name = std::string(impl.display_name_input.data()),
         role = impl.role_choice == 1 ? "merchant" : "client",
         https = impl.use_https] { return api(host, email, password, name, role, https); },
        [&impl](AuthResult auth) {
            if (!auth.ok) return apply_auth_failure(impl, auth.error);
            apply_signed_in(impl, auth, true);
            save_config(impl);
        });
}

bool start_load_servers(Impl& impl) {
    return impl.browse_op.launch(
        [api = impl.api.list_servers, host = impl.backend_host, gpu = std::string(impl.gpu_filter.data()),
         min_fps = impl.min_fps, max_price = impl.max_price, sort = impl.sort_choice == 1 ? "price" : "rating",
         https = impl.use_https] { return api(host, gpu, min_fps, max_price, sort, https); },
        [&impl](ServerListResult list) {
            impl.servers = std::move(list.servers);
            impl.total = list.total;
            if (!list.ok) {
                impl.servers.clear();
                impl.total = 0;
                set_status(impl, list.error, StatusKind::error);
            }
            impl.servers_loaded = true;
            spdlog::info("NativeLauncher: {} servers listed", impl.servers.size());
        });
}

bool start_rent(Impl& impl) {
    return impl.session_op.launch(
        [api = impl.api.create_session, host = impl.backend_host, token = impl.token, id = impl.selected.id,
         https = impl.use_https] { return api(host, token, id, "h264", https); },
        [&impl](CreateSessionResult created) {
            if (!created.ok) return set_status(impl, created.error, StatusKind::error);
            impl.session_id = created.session_id;
            impl.session_status = "preparing";
            impl.screen = Screen::Session;
            spdlog::info("NativeLauncher: rented {} as session {}", log_safe(impl.selected.id),
                         log_safe(impl.session_id));
            set_status(impl, {}, StatusKind::success);
        });
}

bool start_poll(Impl& impl) {
    return impl.session_op.launch(
        [api = impl.api.get_active_session, host = impl.backend_host, token = impl.token,
         https = impl.use_https] { return api(host, token, https); },
        [&impl](ActiveSession active) {
            if (active.ok) {
                if (active.status != impl.session_status) {
                    spdlog::info("NativeLauncher: session {} is {}", log_safe(active.id), log_safe(active.status));
                }
                impl.session_id = active.id;
                impl.session_status = active.status;
                impl.cost_cents = active.cost_cents;
                impl.duration_sec = active.duration_sec;
            } else if (!impl.session_id.empty() && active.error.find("No active") != std::string::npos) {
                clear_session(impl);
            }
        });
}

bool start_launch_stream(Impl& impl) {
    return impl.session_op.launch(
        [api = impl.api.get_connect_info, host = impl.backend_host, token = impl.token,
         https = impl.use_https] { return api(host, token, https); },
        [&impl](ConnectInfo info) {
            if (!info.ok) return set_status(impl, info.error, StatusKind::error);
            fill_connect_result(impl, info);
        });
}

bool start_end_session(Impl& impl) {
    const bool started = impl.session_op.launch(
        [api = impl.api.end_session, host = impl.backend_host, token = impl.token, id = impl.session_id,
         https = impl.use_https] { return api(host, token, id, https); },
        [&impl](bool ended) {
            spdlog::info("NativeLauncher: session {} {}", log_safe(impl.session_id),
                         ended ? "terminated" : "could not be terminated");
            clear_session(impl);
            impl.ending = false;
            impl.screen = Screen::Browse;
            impl.servers_loaded = false;
        });
    if (started) impl.ending = true;
    return started;
}

bool start_profile_refresh(Impl& impl) {
    return impl.profile_op.launch(
        [api = impl.api.fetch_profile, host = impl.backend_host, token = impl.token,
         https = impl.use_https] { return api(host, token, https); },
        [&impl](UserProfile profile) {
            if (!profile.ok) {
                spdlog::info("NativeLauncher: saved token invalid, clearing");
                return forget_session(impl);
            }
            impl.balance_cents = profile.balance_cents;
            if (!profile.display_name.empty()) impl.display_name = profile.display_name;
            if (!profile.email.empty()) impl.email = profile.email;
            if (!profile.role.empty()) impl.role = profile.role;
            save_config(impl);
        });
}

void apply_ready_results(Impl& impl) {
    impl.auth_op.apply_ready();
    impl.browse_op.apply_ready();
    impl.session_op.apply_ready();
    impl.profile_op.apply_ready();
}

bool poll_due(const Impl& impl, double now_s) {
    return !impl.session_op.is_busy() && impl.session_status != "streaming" &&
           now_s - impl.last_poll_s > k_poll_interval_s;
}

bool poll_if_due(Impl& impl, double now_s) {
    if (!impl.deep_link.empty() || !poll_due(impl, now_s)) return false;
    impl.last_poll_s = now_s;
    return start_poll(impl);
}

bool take_deep_link_at_start(Impl& impl) {
    if (impl.deep_link.empty() || !impl.logged_in) return false;
    const std::string link = std::move(impl.deep_link);
    impl.deep_link.clear();
    if (connect_from_deep_link(impl, link)) {
        spdlog::info("NativeLauncher: deep-link auto-connect to {}:{}", log_safe(impl.result.params.host),
                     impl.result.params.port);
        return true;
    }
    spdlog::warn("NativeLauncher: could not parse deep-link URI");
    impl.screen = Screen::Session;
    return false;
}

bool take_deep_link_in_session(Impl& impl) {
    if (impl.deep_link.empty()) return false;
    const std::string link = std::move(impl.deep_link);
    impl.deep_link.clear();
    if (connect_from_deep_link(impl, link)) {
        spdlog::info("NativeLauncher: deep-link connect to {}:{}", log_safe(impl.result.params.host),
                     impl.result.params.port);
    } else {
        set_status(impl, "Invalid nubora:// link", StatusKind::error);
        impl.screen = Screen::Browse;
    }
    return true;
}

void reset_result(NativeLauncher::Result& result) { result = NativeLauncher::Result{}; }

}  // namespace nb::ui
