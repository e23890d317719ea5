// Sign-in and registration, the two screens of a signed-out user.
#pragma once

#include "ui/launcher_impl.h"

namespace nb::ui {

void render_auth(NativeLauncher::Impl& impl);
void render_register(NativeLauncher::Impl& impl);

}  // namespace nb::ui
