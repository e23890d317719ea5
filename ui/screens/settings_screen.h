// The settings page: who is signed in, the language and saving.
#pragma once

#include "ui/launcher_impl.h"

namespace nb::ui {

void render_settings(NativeLauncher::Impl& impl);

}  // namespace nb::ui
