// A WinHTTP request waits on its completion event and a cancel event; the
// transfer registered for cancellation is that cancel event.
#include <windows.h>

#include "ui/http_cancel.h"

namespace nb::ui {

void HttpCancel::wake(void* transfer) { SetEvent(static_cast<HANDLE>(transfer)); }

}  // namespace nb::ui
