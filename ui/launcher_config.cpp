#include "ui/launcher_config.h"

namespace nb::ui {

std::string clamp_backend_host(std::string_view text) {
    if (text.size() <= k_max_backend_host) return std::string(text);
    size_t cut = k_max_backend_host;
    // Step back over continuation bytes (10xxxxxx) to the lead byte of the
    // sequence that straddles the limit, and cut before it. A sequence is at
    // most four bytes, so text that is not UTF-8 loses no more than three.
    const size_t lowest = k_max_backend_host - 3;
    while (cut > lowest && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut));
}

}  // namespace nb::ui
