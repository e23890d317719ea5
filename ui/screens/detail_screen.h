// One PC's full hardware details and the rent action.
#pragma once

#include "ui/launcher_impl.h"

namespace nb::ui {

constexpr float k_detail_narrow_below = 560.0f;

void render_detail(NativeLauncher::Impl& impl);

}  // namespace nb::ui
