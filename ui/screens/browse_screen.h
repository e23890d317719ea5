// The server browser: filters and the grid of rentable PCs.
#pragma once

#include "ui/launcher_impl.h"

namespace nb::ui {

// Below this content width the filter row keeps only the GPU field.
constexpr float k_browse_narrow_below = 500.0f;

void render_browse(NativeLauncher::Impl& impl);

}  // namespace nb::ui
