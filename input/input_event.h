// The 28-byte input record the remote PC's agent injects as Windows input.
// Its byte layout is also the plaintext the input sender encrypts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace nb {

enum class InputEventType : uint8_t {
    mouse_move = 0,
    mouse_buttons = 1,
    mouse_wheel = 2,
    key_down = 3,
    key_up = 4,
};

// Button mask bits, as carried in `buttons`.
inline constexpr uint8_t k_button_left = 0x01;
inline constexpr uint8_t k_button_right = 0x02;
inline constexpr uint8_t k_button_middle = 0x04;

// Key flag bits (byte 15 of a key record), as Raw Input's RAWKEYBOARD.Flags.
inline constexpr uint8_t k_key_flag_break = 0x01;
inline constexpr uint8_t k_key_flag_e0 = 0x02;
inline constexpr uint8_t k_key_flag_e1 = 0x04;

// One wheel notch, in the units Windows reports.
inline constexpr int16_t k_wheel_delta = 120;

// Layout on the wire (little-endian, no gaps):
//   0 version u8 | 1 type u8 | 2 seq u16 | 4 timestamp_us u64 |
//   12 x u16 | 14 y u16 | 16 buttons u8 | 17..27 reserved, zero.
// `x` and `y` are raw 16-bit fields whose meaning depends on the type; the
// accessors below give the typed views.
struct InputEvent {
    static constexpr size_t k_wire_size = 28;
    static constexpr uint8_t k_version = 1;

    uint8_t version = k_version;
    InputEventType type = InputEventType::mouse_move;
    uint16_t seq = 0;
    uint64_t timestamp_us = 0;
    uint16_t x = 0;  // move: dx (i16); key: virtual-key code; otherwise 0
    uint16_t y = 0;  // move: dy (i16); wheel: delta (i16); key: scan | flags << 8
    uint8_t buttons = 0;  // move and buttons: current mask; otherwise 0

    // Record builders; `seq` and `timestamp_us` are left for the caller.
    static InputEvent mouse_move(int16_t dx, int16_t dy, uint8_t mask);
    static InputEvent mouse_buttons(uint8_t mask);
    static InputEvent mouse_wheel(int16_t delta);
    static InputEvent key(bool down, uint16_t virtual_key, uint8_t scan_code, uint8_t flags);

    int16_t dx() const { return static_cast<int16_t>(x); }
    int16_t dy() const { return static_cast<int16_t>(y); }
    int16_t wheel_delta() const { return static_cast<int16_t>(y); }
    uint16_t virtual_key() const { return x; }
    uint8_t scan_code() const { return static_cast<uint8_t>(y & 0xFF); }
    uint8_t key_flags() const { return static_cast<uint8_t>(y >> 8); }

    void serialize(std::span<uint8_t, k_wire_size> out) const;
    std::array<uint8_t, k_wire_size> to_bytes() const;

    // Reads a record from the wire. Returns nullopt when the size is not 28
    // bytes, the version is not 1 or the type is unknown; reserved bytes are
    // not checked so a later sender may use them.
    static std::optional<InputEvent> parse(std::span<const uint8_t> bytes);

    friend bool operator==(const InputEvent&, const InputEvent&) = default;
};

}  // namespace nb
