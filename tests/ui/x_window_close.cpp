// Xlib stays in this file: its macros (None, Bool) clash with GoogleTest.
#include "tests/ui/x_window_close.h"

#include <X11/Xlib.h>

namespace nb::test {

bool request_window_close(const std::string& display, const std::string& window) {
    Display* x = XOpenDisplay(display.c_str());
    if (!x) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = std::stoul(window);
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, event.xclient.window, False, NoEventMask, &event);
    XCloseDisplay(x);
    return true;
}

}  // namespace nb::test
