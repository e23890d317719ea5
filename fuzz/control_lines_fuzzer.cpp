// What an agent, or anyone who took its place, can send on the control
// connection: the first line is the handshake reply, every later line a
// control message. The reply either yields keys of the lengths it claims or
// a refusal with its reason; no line ends in anything but a type or "".
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "common/log_text.h"
#include "fuzz/support/fuzz_input.h"
#include "session/control_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nb::fuzz::quiet_logs();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t first_end = text.find('\n');
    const std::string reply(text.substr(0, first_end));

    nb::SessionKeys keys;
    std::string refusal;
    try {
        if (nb::read_session_ready(reply, keys, refusal)) {
            NB_FUZZ_CHECK(keys.video.size() == 32);
            NB_FUZZ_CHECK(refusal.empty());
        }
    } catch (const std::exception& e) {
        // The handshake logs this text; it must fit one line whatever it holds.
        NB_FUZZ_CHECK(nb::log_safe(e.what()).find('\n') == std::string::npos);
    }
    NB_FUZZ_CHECK(nb::log_safe(refusal).find_first_of("\n\r\x1b") == std::string::npos);
    NB_FUZZ_CHECK(keys.audio.size() <= reply.size() && keys.input.size() <= reply.size());

    if (first_end == std::string_view::npos) return 0;
    size_t start = first_end + 1;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        const std::string type = nb::message_type(line);
        NB_FUZZ_CHECK(type.size() <= line.size());
        start = end + 1;
    }
    return 0;
}
