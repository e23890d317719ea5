// Asks an X window to close the way a window manager's close button does,
// for tests that run without a window manager.
#pragma once

#include <string>

namespace nb::test {

// Sends WM_DELETE_WINDOW to `window` (a decimal X id) on `display`; false
// when the display cannot be opened.
bool request_window_close(const std::string& display, const std::string& window);

}  // namespace nb::test
