// An X server for the tests that open windows: the one in DISPLAY when set,
// otherwise a private Xvfb started on a free display and stopped at exit.
#pragma once

namespace nb::test {

// True when DISPLAY names a usable server afterwards.
bool ensure_x_display();

}  // namespace nb::test
