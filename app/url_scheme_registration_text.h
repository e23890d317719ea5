// The text that makes nubora:// links reach this program on a freedesktop
// system: the desktop entry and the user's default-handler list. Pure, so the
// quoting rules are checked without touching the disk.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nb {

inline constexpr std::string_view k_scheme_mime_type = "x-scheme-handler/nubora";
inline constexpr std::string_view k_scheme_desktop_id = "nubora-launcher.desktop";

// `path` as the program of a desktop entry's Exec line: bare when it holds no
// reserved character (xdg-open 1.1.3 would run a quoted path with its quotes),
// else quoted and escaped. nullopt when no entry can express it (invalid
// UTF-8, control characters other than tab, newline and carriage return, or
// an "=", which the program part may not hold).
std::optional<std::string> desktop_exec_program(std::string_view path);

// The whole desktop entry that opens nubora:// links with `target`; nullopt
// when `target` cannot be expressed.
std::optional<std::string> scheme_desktop_entry(std::string_view target);

// `mimeapps` (a mimeapps.list, possibly empty) with `mime_type` handled by
// `desktop_id` under [Default Applications]. Every other line, blank lines
// and comments included, is kept byte for byte; an earlier default for the
// same type is replaced in place.
std::string with_default_handler(std::string_view mimeapps, std::string_view mime_type,
                                 std::string_view desktop_id);

}  // namespace nb
