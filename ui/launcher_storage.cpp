// The launcher state's side of the configuration file.
#include "ui/launcher_storage.h"

#include "ui/launcher_actions.h"

namespace nb::ui {

void load_config(NativeLauncher::Impl&) {}

void save_config(NativeLauncher::Impl&) {}

void forget_session(NativeLauncher::Impl& impl) {
    impl.token.clear();
    impl.email.clear();
    impl.display_name.clear();
    impl.role.clear();
    impl.balance_cents = 0;
    impl.logged_in = false;
    clear_session(impl);
    impl.servers.clear();
    impl.servers_loaded = false;
    impl.screen = Screen::Auth;
}

}  // namespace nb::ui
