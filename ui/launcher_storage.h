// Where the launcher's settings and signed-in session persist between runs.
#pragma once

#include "ui/launcher_impl.h"

namespace nb::ui {

// Fills the state from the configuration file; a restored session opens on
// the server browser.
void load_config(NativeLauncher::Impl& impl);
// Writes the settings and whatever session is held.
void save_config(NativeLauncher::Impl& impl);
// Signs out: clears the session in memory and the sealed token on disk, and
// returns to the sign-in screen.
void forget_session(NativeLauncher::Impl& impl);

}  // namespace nb::ui
