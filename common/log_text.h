// Text that came from outside (a peer, a backend, a file, a URL) made fit
// for the log: a forged line or a terminal escape must never reach it raw.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nb {

// Enough for any error text or host name a person needs to read; a peer's
// megabyte of garbage is cut well before it can swell the log.
inline constexpr size_t k_log_text_max_bytes = 512;

// Escapes control characters (C0, DEL, C1), bytes that are not UTF-8, the
// backslash itself and the characters that reorder or break lines
// (U+2028-U+202E, U+2066-U+2069), so one call always stays one log line and
// shows what was received. Output past `max_bytes` is cut at a character
// boundary and ends with "...(N more bytes)", N counting unread input.
std::string log_safe(std::string_view text, size_t max_bytes = k_log_text_max_bytes);

}  // namespace nb
