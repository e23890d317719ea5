// Per-datagram intake: validation, decryption outside the lock, frame table
// bookkeeping and the in-order hand-off of completed frames under it.

#include "net/depacketizer.h"

#include <spdlog/spdlog.h>

#include <array>
#include <limits>

#include "common/clock.h"
#include "fec/wirehair.h"
#include "net/frame_repair.h"

namespace nb {

namespace {

// Large enough for any ciphertext that passes validation, so the per-thread
// buffer never needs to grow and the hot path never allocates for it.
constexpr size_t k_decrypt_buffer_bytes = 1226;

std::array<uint8_t, k_decrypt_buffer_bytes>& decrypt_buffer() {
    thread_local std::array<uint8_t, k_decrypt_buffer_bytes> buffer;
    return buffer;
}

}  // namespace

Depacketizer::Depacketizer(Decryption& decryption, std::function<int64_t()> clock, FecCodecApi fec)
    : decryption_(decryption),
      clock_(clock ? std::move(clock) : std::function<int64_t()>(now_us)),
      fec_(fec),
      decrypt_failure_log_(LogRateLimiter::k_default_period_us, clock_) {
    if (wirehair_init() != Wirehair_Success) {
        spdlog::warn("Depacketizer: wirehair_init failed — FEC repair disabled");
    }
}

Depacketizer::~Depacketizer() {
    if (frames_assembled() == 0 && frames_given_up() == 0) return;
    spdlog::info("Depacketizer: {} frames assembled, {} given up incomplete", frames_assembled(), frames_given_up());
}

void Depacketizer::set_frame_callback(FrameCallback callback) { frame_callback_ = std::move(callback); }

DatagramHandler Depacketizer::datagram_handler() {
    return [this](const uint8_t* data, size_t length, const asio::ip::udp::endpoint& from) {
        handle_datagram(data, length, from);
    };
}

void Depacketizer::handle_datagram(const uint8_t* data, size_t length, const asio::ip::udp::endpoint& from) {
    if (spdlog::should_log(spdlog::level::trace)) {
        spdlog::trace("Depacketizer: video packet {} bytes from {}", length, from.address().to_string());
    }
    if (data == nullptr || length < k_media_header_bytes) return;
    const int64_t arrival_us = clock_();
    const MediaHeader header = MediaHeader::parse_unchecked(data);

    const size_t ciphertext_length = length - k_media_header_bytes;
    const bool valid = length >= k_media_header_bytes + k_aead_tag_bytes &&
                       static_cast<uint16_t>(header.packet_count - 1) < k_max_packet_count &&
                       (header.is_fec() || header.packet_index < header.packet_count) &&
                       length <= k_max_datagram_bytes;
    if (!valid) return;
    auto& plain = decrypt_buffer();
    size_t plain_length = 0;
    if (!decryption_.decrypt(data, data + k_media_header_bytes, ciphertext_length, plain.data(), plain.size(),
                             plain_length)) {
        const uint64_t total = decrypt_failures_.fetch_add(1, std::memory_order_relaxed) + 1;
        if (const uint64_t unsent = decrypt_failure_log_.count()) {
            spdlog::warn("Depacketizer: decryption failed (total={}), frame={} pkt={}/{}; {} since the last line",
                         total, header.frame_id, header.packet_index, header.packet_count, unsent);
        }
        return;
    }
    // Only what the agent really sent may count: a forged datagram must not
    // make the link look worse than it is.
    if (!header.is_fec()) {
        if (IPacketStats* stats = stats_.load(std::memory_order_acquire)) {
            stats->on_video_packet(header.frame_id, header.packet_count);
        }
    }
    std::lock_guard lock(mutex_);
    store_locked(header, plain.data(), plain_length, arrival_us);
}

void Depacketizer::store_locked(const MediaHeader& header, const uint8_t* plaintext, size_t length,
                                int64_t arrival_us) {
    if (has_baseline_) {
        const int64_t d = static_cast<int64_t>(header.frame_id) - static_cast<int64_t>(latest_frame_id_);
        if (d >= -k_frame_id_window && d <= 0) return;  // finished or overtaken frame
        if (d > k_frame_id_window || d < -k_frame_id_window) {
            spdlog::warn("Depacketizer: frame_id discontinuity {} -> {}, re-baselining", latest_frame_id_,
                         header.frame_id);
            frames_given_up_.fetch_add(pending_.size(), std::memory_order_relaxed);
            pending_.clear();
            pending_bytes_ = 0;
            latest_frame_id_ = 0;
            has_baseline_ = false;
        }
    }

    const auto it = find_or_create_locked(header, arrival_us);
    PendingFrame& frame = it->second;
    if (!header.is_fec()) {
        if (header.packet_index < frame.packet_count && !frame.received[header.packet_index]) {
            frame.packets[header.packet_index].assign(plaintext, plaintext + length);
            frame.received[header.packet_index] = true;
            ++frame.received_count;
            frame.bytes += length;
            pending_bytes_ += length;
            if (header.packet_index == frame.packet_count - 1) frame.last_packet_size = length;
        }
    } else if (frame.fec_packets.size() < k_max_fec_packets_per_frame) {
        frame.fec_packets.emplace_back(header.fec_index, std::vector<uint8_t>(plaintext, plaintext + length));
        frame.bytes += length;
        pending_bytes_ += length;
    }
    if (header.key_frame()) frame.key = true;

    if (frame.received_count >= frame.packet_count) {
        complete_locked(it, arrival_us);
        return;
    }
    if (!frame.fec_packets.empty() &&
        static_cast<size_t>(frame.packet_count - frame.received_count) <= frame.fec_packets.size()) {
        uint64_t added = 0;
        if (repair_frame(frame, added, fec_)) {
            pending_bytes_ += added;
            complete_locked(it, arrival_us);
        }
    }
}

Depacketizer::PendingTable::iterator Depacketizer::find_or_create_locked(const MediaHeader& header,
                                                                   int64_t arrival_us) {
    auto it = pending_.find(header.frame_id);
    if (it == pending_.end()) {
        while (!pending_.empty() && (pending_.size() >= k_max_pending_frames || pending_bytes_ >= k_max_pending_bytes)) {
            auto oldest = pending_.begin();
            for (auto candidate = pending_.begin(); candidate != pending_.end(); ++candidate) {
                if (candidate->second.first_arrival_us < oldest->second.first_arrival_us) oldest = candidate;
            }
            spdlog::debug("Depacketizer: pending-state limit, evicting frame {}", oldest->first);
            erase_locked(oldest);
            frames_given_up_.fetch_add(1, std::memory_order_relaxed);
        }
        it = pending_.try_emplace(header.frame_id).first;
    }
    PendingFrame& frame = it->second;
    if (frame.packet_count == 0) {
        frame.frame_id = header.frame_id;
        frame.packet_count = header.packet_count;
        frame.key = header.key_frame();
        // The datagram's own arrival, as for the frame's last packet: a
        // one-packet frame must not seem to start after it ended.
        frame.first_arrival_us = arrival_us;
        frame.packets.resize(header.packet_count);
        frame.received.assign(header.packet_count, false);
    }
    return it;
}

void Depacketizer::complete_locked(PendingTable::iterator it, int64_t arrival_us) {
    PendingFrame& frame = it->second;
    CompletedFrame done;
    size_t total = 0;
    for (const auto& packet : frame.packets) total += packet.size();
    done.access_unit.reserve(total);
    for (const auto& packet : frame.packets) done.access_unit.insert(done.access_unit.end(), packet.begin(), packet.end());
    done.frame_id = frame.frame_id;
    done.key = frame.key;
    done.first_packet_us = frame.first_arrival_us;
    done.last_packet_us = arrival_us;
    frames_assembled_.fetch_add(1, std::memory_order_relaxed);
    if (!has_baseline_ || frame.frame_id > latest_frame_id_) latest_frame_id_ = frame.frame_id;
    has_baseline_ = true;
    erase_locked(it);
    for (auto other = pending_.begin(); other != pending_.end();) {
        if (other->first < latest_frame_id_) {
            spdlog::debug("Depacketizer: evicting superseded frame {} (latest={})", other->first, latest_frame_id_);
            pending_bytes_ -= other->second.bytes;
            other = pending_.erase(other);
            frames_given_up_.fetch_add(1, std::memory_order_relaxed);
        } else {
            ++other;
        }
    }
    // Handed over before the lock is released: a frame completed on another
    // thread a moment later cannot overtake this one on its way out.
    if (frame_callback_) frame_callback_(std::move(done));
}

void Depacketizer::erase_locked(PendingTable::iterator it) {
    pending_bytes_ -= it->second.bytes;
    pending_.erase(it);
}

void Depacketizer::sweep_stale() {
    std::lock_guard lock(mutex_);
    const int64_t now = clock_();
    for (auto it = pending_.begin(); it != pending_.end();) {
        const PendingFrame& frame = it->second;
        const int64_t age = now - frame.first_arrival_us;
        if (frame.first_arrival_us != 0 && frame.first_arrival_us < now && age > k_stale_age_us) {
            spdlog::debug("Depacketizer: dropping stale frame {} ({}/{} pkts, age={}us)", frame.frame_id,
                          frame.received_count, frame.packet_count, age);
            pending_bytes_ -= frame.bytes;
            it = pending_.erase(it);
            frames_given_up_.fetch_add(1, std::memory_order_relaxed);
        } else {
            ++it;
        }
    }
}

size_t Depacketizer::pending_frames() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

uint64_t Depacketizer::pending_bytes() const {
    std::lock_guard lock(mutex_);
    return pending_bytes_;
}

uint32_t Depacketizer::latest_frame_id() const {
    std::lock_guard lock(mutex_);
    return latest_frame_id_;
}

}  // namespace nb
