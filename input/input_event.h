// The 28-byte input record that capture produces and the input sender
// encrypts: its byte layout is the plaintext the agent decrypts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace nb {

inline constexpr size_t k_input_event_bytes = 28;

enum class InputEventType : uint8_t {
    MouseMove = 0,
    MouseButtons = 1,
    MouseWheel = 2,
    KeyDown = 3,
    KeyUp = 4,
};

// Fields in wire order. `x` and `y` hold the raw 16 bits: signed deltas for
// moves and the wheel, the virtual-key code (x) and scan code / key flags
// (y low byte / high byte) for keys.
struct InputEvent {
    uint8_t version = 1;
    uint8_t type = 0;
    uint16_t seq = 0;
    uint64_t timestamp_us = 0;
    uint16_t x = 0;
    uint16_t y = 0;
    uint8_t buttons = 0;
    std::array<uint8_t, 11> reserved{};

    // Little-endian, no gaps: offsets 0, 1, 2, 4, 12, 14, 16, 17.
    std::array<uint8_t, k_input_event_bytes> to_bytes() const {
        std::array<uint8_t, k_input_event_bytes> out{};
        out[0] = version;
        out[1] = type;
        put_le(out.data() + 2, seq, 2);
        put_le(out.data() + 4, timestamp_us, 8);
        put_le(out.data() + 12, x, 2);
        put_le(out.data() + 14, y, 2);
        out[16] = buttons;
        for (size_t i = 0; i < reserved.size(); ++i) out[17 + i] = reserved[i];
        return out;
    }

    static InputEvent from_bytes(std::span<const uint8_t, k_input_event_bytes> in) {
        InputEvent e;
        e.version = in[0];
        e.type = in[1];
        e.seq = static_cast<uint16_t>(get_le(in.data() + 2, 2));
        e.timestamp_us = get_le(in.data() + 4, 8);
        e.x = static_cast<uint16_t>(get_le(in.data() + 12, 2));
        e.y = static_cast<uint16_t>(get_le(in.data() + 14, 2));
        e.buttons = in[16];
        for (size_t i = 0; i < e.reserved.size(); ++i) e.reserved[i] = in[17 + i];
        return e;
    }

    bool operator==(const InputEvent&) const = default;

private:
    static void put_le(uint8_t* out, uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    static uint64_t get_le(const uint8_t* in, int bytes) {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
        return value;
    }
};

}  // namespace nb
