// The rented session: waiting, streaming with cost and time, or none.
#pragma once

#include "ui/launcher_impl.h"

namespace nb::ui {

void render_session(NativeLauncher::Impl& impl, NativeLauncher::Result& result);

// Seconds of the steady clock, the time base of session polling.
double steady_seconds();

}  // namespace nb::ui
