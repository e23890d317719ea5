// The navigation column shown while a user is signed in.
#pragma once

#include "ui/launcher_impl.h"

namespace nb::ui {

// Below this window width the sidebar shows icons only.
constexpr float k_sidebar_collapse_below = 800.0f;
constexpr float k_sidebar_width = 220.0f;
constexpr float k_sidebar_collapsed_width = 58.0f;

void render_sidebar(NativeLauncher::Impl& impl);

}  // namespace nb::ui
