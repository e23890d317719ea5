#include "session/packet_loss_meter.h"

#include <algorithm>

namespace nb {

void PacketLossMeter::on_packet(uint32_t frame_id, uint16_t packet_count) {
    std::lock_guard lock(lock_);
    // Newest first: the frame being received is almost always the last one added.
    for (size_t i = open_count_; i-- > 0;) {
        Tally& tally = open_[i];
        if (tally.frame_id == frame_id) {
            if (tally.received < UINT16_MAX) ++tally.received;
            return;
        }
    }
    if (was_settled_locked(frame_id)) return;
    if (open_count_ == open_.size()) {
        const auto oldest = std::min_element(open_.begin(), open_.end(),
                                             [](const Tally& a, const Tally& b) { return a.order < b.order; });
        settle_locked(static_cast<size_t>(oldest - open_.begin()));
    }
    open_[open_count_++] = Tally{frame_id, packet_count, 1, next_order_++, false};
}

float PacketLossMeter::take_loss_pct() {
    std::lock_guard lock(lock_);
    for (size_t i = 0; i < open_count_;) {
        Tally& tally = open_[i];
        if (tally.received >= tally.expected || tally.waited) {
            settle_locked(i);  // moves the last tally into slot i
        } else {
            tally.waited = true;
            ++i;
        }
    }
    const float loss = expected_ == 0 ? 0.0f
                                      : static_cast<float>(static_cast<double>(missing_) * 100.0 /
                                                           static_cast<double>(expected_));
    expected_ = 0;
    missing_ = 0;
    return loss;
}

void PacketLossMeter::settle_locked(size_t index) {
    const Tally& tally = open_[index];
    expected_ += tally.expected;
    // Duplicates of one frame never hide the losses of another.
    if (tally.received < tally.expected) missing_ += tally.expected - tally.received;
    closed_[closed_next_] = tally.frame_id;
    closed_next_ = (closed_next_ + 1) % closed_.size();
    closed_count_ = std::min(closed_count_ + 1, closed_.size());
    open_[index] = open_[--open_count_];
}

bool PacketLossMeter::was_settled_locked(uint32_t frame_id) const {
    for (size_t i = 0; i < closed_count_; ++i) {
        if (closed_[i] == frame_id) return true;
    }
    return false;
}

}  // namespace nb
