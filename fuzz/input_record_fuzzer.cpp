// Input records read back from bytes: anything that parses writes out to the
// same 28 bytes, reserved bytes aside, and parses again to the same record.
#include <array>
#include <cstdint>
#include <span>

#include "fuzz/support/fuzz_input.h"
#include "input/input_event.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto record = nb::InputEvent::parse(std::span<const uint8_t>(data, size));
    if (!record) return 0;
    NB_FUZZ_CHECK(size == nb::InputEvent::k_wire_size);
    const std::array<uint8_t, nb::InputEvent::k_wire_size> bytes = record->to_bytes();
    const auto again = nb::InputEvent::parse(bytes);
    NB_FUZZ_CHECK(again.has_value());
    NB_FUZZ_CHECK(again->to_bytes() == bytes);
    return 0;
}
