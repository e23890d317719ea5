// Appends under one lock, so records leave in the order their seq says.
#include "input/input_record_queue.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <utility>

#include "common/clock.h"

namespace nb {

InputRecordQueue::InputRecordQueue(std::string component) : component_(std::move(component)) {
    pending_.reserve(256);
}

void InputRecordQueue::reset() {
    std::lock_guard guard(lock_);
    seq_ = 0;
    buttons_ = 0;
    held_keys_.clear();
}

size_t InputRecordQueue::set_buttons(uint8_t mask) {
    std::lock_guard guard(lock_);
    if (mask == buttons_) return 0;
    buttons_ = mask;
    return append(InputEvent::mouse_buttons(mask)) ? 1 : 0;
}

size_t InputRecordQueue::change_buttons(uint8_t set, uint8_t cleared) {
    std::lock_guard guard(lock_);
    const auto mask = static_cast<uint8_t>((buttons_ | set) & ~cleared);
    if (mask == buttons_) return 0;
    buttons_ = mask;
    return append(InputEvent::mouse_buttons(mask)) ? 1 : 0;
}

uint8_t InputRecordQueue::buttons() const {
    std::lock_guard guard(lock_);
    return buttons_;
}

size_t InputRecordQueue::move(int16_t dx, int16_t dy) {
    std::lock_guard guard(lock_);
    return append(InputEvent::mouse_move(dx, dy, buttons_)) ? 1 : 0;
}

size_t InputRecordQueue::wheel(int16_t delta) {
    std::lock_guard guard(lock_);
    return append(InputEvent::mouse_wheel(delta)) ? 1 : 0;
}

size_t InputRecordQueue::key(bool down, uint16_t virtual_key, uint8_t scan_code, uint8_t flags) {
    std::lock_guard guard(lock_);
    if (!append(InputEvent::key(down, virtual_key, scan_code, flags))) return 0;
    const HeldKey held{virtual_key, scan_code, static_cast<uint8_t>(flags & ~k_key_flag_break)};
    const auto it = std::find(held_keys_.begin(), held_keys_.end(), held);
    if (down && it == held_keys_.end()) held_keys_.push_back(held);
    if (!down && it != held_keys_.end()) held_keys_.erase(it);
    return 1;
}

size_t InputRecordQueue::release_held() {
    std::lock_guard guard(lock_);
    size_t appended = 0;
    for (const HeldKey& key : held_keys_) {
        const auto flags = static_cast<uint8_t>(key.flags | k_key_flag_break);
        appended += append(InputEvent::key(false, key.virtual_key, key.scan_code, flags)) ? 1 : 0;
    }
    held_keys_.clear();
    return appended + release_buttons_locked();
}

size_t InputRecordQueue::release_buttons() {
    std::lock_guard guard(lock_);
    return release_buttons_locked();
}

size_t InputRecordQueue::release_buttons_locked() {
    // A button released after the window lost focus reaches another window;
    // without this the remote would keep it held (a drag that never ends).
    if (buttons_ == 0) return 0;
    buttons_ = 0;
    return append(InputEvent::mouse_buttons(0)) ? 1 : 0;
}

size_t InputRecordQueue::drain(std::vector<InputEvent>& out) {
    out.clear();
    std::lock_guard guard(lock_);
    out.insert(out.end(), pending_.begin(), pending_.end());
    pending_.clear();  // keeps its capacity
    return out.size();
}

bool InputRecordQueue::append(InputEvent event) {
    if (pending_.size() >= k_max_pending) {
        const uint64_t n = dropped_.fetch_add(1, std::memory_order_relaxed) + 1;
        if (n == 1 || n % 1000 == 0) {
            spdlog::warn("{}: {} input records dropped, nobody is draining the capture", component_, n);
        }
        return false;
    }
    event.seq = seq_++;
    event.timestamp_us = static_cast<uint64_t>(now_us());
    pending_.push_back(event);
    return true;
}

}  // namespace nb
