// libavcodec reports stream damage on stderr by default; this sends it to
// the process log instead, at debug level since a damaged stream is already
// reported by the decoder's own counters and lines.
#pragma once

namespace nb {

// Installs the redirection once per process; later calls do nothing.
void route_libav_logs();

}  // namespace nb
