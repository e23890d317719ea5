// A libcurl transfer waits in curl_multi_poll, which a wakeup ends at once.
#include <curl/curl.h>

#include "ui/http_cancel.h"

namespace nb::ui {

void HttpCancel::wake(void* transfer) { curl_multi_wakeup(static_cast<CURLM*>(transfer)); }

}  // namespace nb::ui
