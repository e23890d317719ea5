// The launcher state's side of the configuration file: the store reads and
// writes a LauncherConfig, this copies it into and out of the window's state.
#include "ui/launcher_storage.h"

#include <spdlog/spdlog.h>

#include "common/log_text.h"
#include "ui/launcher_actions.h"
#include "ui/localisation.h"

namespace nb::ui {

namespace {

LauncherConfig config_of(const NativeLauncher::Impl& impl) {
    LauncherConfig config;
    config.host = impl.backend_host;
    config.use_https = impl.use_https;
    config.language = is_russian() ? Language::russian : Language::english;
    config.token = impl.token;
    config.email = impl.email;
    config.display_name = impl.display_name;
    config.role = impl.role;
    config.balance_cents = impl.balance_cents;
    return config;
}

}  // namespace

void load_config(NativeLauncher::Impl& impl) {
    LauncherConfig config;
    impl.store.load(config);
    impl.backend_host = config.host;
    impl.use_https = config.use_https;
    set_language(config.language == Language::russian);
    if (!config.signed_in()) return;
    impl.token = config.token;
    impl.email = config.email;
    impl.display_name = config.display_name;
    impl.role = config.role;
    impl.balance_cents = config.balance_cents;
    impl.logged_in = true;
    impl.screen = Screen::Browse;
}

void save_config(NativeLauncher::Impl& impl) { impl.store.save(config_of(impl)); }

void forget_session(NativeLauncher::Impl& impl) {
    LauncherConfig config = config_of(impl);
    impl.store.forget_session(config);
    if (impl.logged_in) spdlog::info("NativeLauncher: signed out {}", log_safe(impl.email));
    impl.token.clear();
    impl.email.clear();
    impl.display_name.clear();
    impl.role = std::string(k_default_user_role);
    impl.balance_cents = 0;
    impl.logged_in = false;
    clear_session(impl);
    impl.servers.clear();
    impl.servers_loaded = false;
    impl.screen = Screen::Auth;
}

}  // namespace nb::ui
