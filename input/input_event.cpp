// Serialisation of the 28-byte input record; explicit byte order so the
// layout does not depend on the host or on struct padding.
#include "input/input_event.h"

namespace nb {
namespace {

void put_u16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put_u64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t get_u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint64_t get_u64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

InputEvent InputEvent::mouse_move(int16_t dx, int16_t dy, uint8_t mask) {
    InputEvent e;
    e.type = InputEventType::mouse_move;
    e.x = static_cast<uint16_t>(dx);
    e.y = static_cast<uint16_t>(dy);
    e.buttons = mask;
    return e;
}

InputEvent InputEvent::mouse_buttons(uint8_t mask) {
    InputEvent e;
    e.type = InputEventType::mouse_buttons;
    e.buttons = mask;
    return e;
}

InputEvent InputEvent::mouse_wheel(int16_t delta) {
    InputEvent e;
    e.type = InputEventType::mouse_wheel;
    e.y = static_cast<uint16_t>(delta);
    return e;
}

InputEvent InputEvent::key(bool down, uint16_t virtual_key, uint8_t scan_code, uint8_t flags) {
    InputEvent e;
    e.type = down ? InputEventType::key_down : InputEventType::key_up;
    e.x = virtual_key;
    e.y = static_cast<uint16_t>(scan_code | (flags << 8));
    return e;
}

void InputEvent::serialize(std::span<uint8_t, k_wire_size> out) const {
    uint8_t* p = out.data();
    p[0] = version;
    p[1] = static_cast<uint8_t>(type);
    put_u16(p + 2, seq);
    put_u64(p + 4, timestamp_us);
    put_u16(p + 12, x);
    put_u16(p + 14, y);
    p[16] = buttons;
    for (size_t i = 17; i < k_wire_size; ++i) p[i] = 0;
}

std::array<uint8_t, InputEvent::k_wire_size> InputEvent::to_bytes() const {
    std::array<uint8_t, k_wire_size> out{};
    serialize(out);
    return out;
}

std::optional<InputEvent> InputEvent::parse(std::span<const uint8_t> bytes) {
    if (bytes.size() != k_wire_size) return std::nullopt;
    const uint8_t* p = bytes.data();
    if (p[0] != k_version) return std::nullopt;
    if (p[1] > static_cast<uint8_t>(InputEventType::key_up)) return std::nullopt;
    InputEvent e;
    e.version = p[0];
    e.type = static_cast<InputEventType>(p[1]);
    e.seq = get_u16(p + 2);
    e.timestamp_us = get_u64(p + 4);
    e.x = get_u16(p + 12);
    e.y = get_u16(p + 14);
    e.buttons = p[16];
    return e;
}

}  // namespace nb
