// The records a capture has built and not yet handed out, with the keys and
// buttons they left held: what every platform's capture shares.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "input/input_event.h"

namespace nb {

// Appends come from the thread that pumps the window, drains from any
// thread; records leave in the order they were appended, seq increasing.
class InputRecordQueue {
public:
    // Records that may wait for a drain before new ones are dropped. The
    // session drains every millisecond, so this is seconds of input and is
    // reached only when nobody drains at all.
    static constexpr size_t k_max_pending = 4096;

    // `component` starts the log line about dropped records.
    explicit InputRecordQueue(std::string component);

    // Restarts seq and forgets held keys and buttons.
    void reset();

    // A buttons record when `mask` differs from the current one; returns how
    // many records were appended (0 or 1), as do the others.
    size_t set_buttons(uint8_t mask);
    // Applies a change to the current mask: `set` bits go down, then `cleared` go up.
    size_t change_buttons(uint8_t set, uint8_t cleared);
    uint8_t buttons() const;
    // A move carrying the current mask.
    size_t move(int16_t dx, int16_t dy);
    size_t wheel(int16_t delta);
    // `flags` as the key record carries them (break bit included).
    size_t key(bool down, uint16_t virtual_key, uint8_t scan_code, uint8_t flags);

    // Appends a release for every key and button the records left held.
    size_t release_held();
    // Only the buttons; for a window that lost the focus while the system
    // still releases the keys itself.
    size_t release_buttons();

    // Replaces `out` with the pending records; keeps both vectors' capacity.
    size_t drain(std::vector<InputEvent>& out);

    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    // A key the records pressed and did not release yet.
    struct HeldKey {
        uint16_t virtual_key;
        uint8_t scan_code;
        uint8_t flags;  // extended-key flags, never break
        bool operator==(const HeldKey&) const = default;
    };

    // Caller holds lock_.
    bool append(InputEvent event);
    size_t release_buttons_locked();

    const std::string component_;
    // Guards pending_, seq_, buttons_ and held_keys_.
    mutable std::mutex lock_;
    std::vector<InputEvent> pending_;
    uint16_t seq_ = 0;
    uint8_t buttons_ = 0;
    // Distinct keys only, so it stays as small as the keyboard.
    std::vector<HeldKey> held_keys_;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace nb
