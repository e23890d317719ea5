#include "tools/agent-sim/impairment.h"

#include <algorithm>

#include "net/media_encryption.h"
#include "net/media_header.h"

namespace nb {

nlohmann::json ImpairmentReport::to_json() const {
    return {{"withheld", withheld}, {"lost_data", lost_data}, {"lost_repair", lost_repair},
            {"duplicated", duplicated}, {"corrupted", corrupted}, {"forged", forged}, {"reordered", reordered}};
}

Impairment::Impairment(const ImpairmentConfig& config, uint64_t seed) : config_(config), rng_(seed) {}

bool Impairment::chance(double pct) {
    if (pct <= 0) return false;
    return std::uniform_real_distribution<double>(0, 100)(rng_) < pct;
}

void Impairment::forge(std::vector<uint8_t>& datagram) {
    // A datagram that looks right in every clear field but was sealed under
    // a key the client does not have.
    const auto header = MediaHeader::parse(datagram);
    if (!header || datagram.size() < k_media_header_bytes + k_aead_tag_bytes) return;
    std::array<uint8_t, k_aead_key_bytes> key{};
    for (auto& b : key) b = static_cast<uint8_t>(rng_());
    MediaEncryption wrong;
    wrong.set_key(key);
    std::vector<uint8_t> plaintext(datagram.size() - k_media_header_bytes - k_aead_tag_bytes);
    for (auto& b : plaintext) b = static_cast<uint8_t>(rng_());
    wrong.seal(*header, plaintext, datagram);
}

void Impairment::apply(uint32_t frame_id, std::vector<std::vector<uint8_t>>& datagrams, ImpairmentReport& report) {
    report = ImpairmentReport{};
    if (!config_.any()) return;
    auto note_lost = [&](const std::vector<uint8_t>& datagram) {
        const auto header = MediaHeader::parse(datagram);
        if (!header) return;
        if (header->is_fec()) ++report.lost_repair;
        else report.lost_data.push_back(header->packet_index);
    };

    if (std::find(config_.withhold_frames.begin(), config_.withhold_frames.end(), frame_id) !=
        config_.withhold_frames.end()) {
        report.withheld = true;
        for (const auto& d : datagrams) note_lost(d);
        datagrams.clear();
        return;
    }

    std::vector<std::vector<uint8_t>> out;
    out.reserve(datagrams.size() + datagrams.size() / 4 + 1);
    for (auto& datagram : datagrams) {
        bool lost = false;
        if (burst_left_ > 0) {
            --burst_left_;
            lost = true;
        } else if (chance(config_.burst_pct)) {
            burst_left_ = config_.burst_length - 1;
            lost = true;
        } else if (chance(config_.loss_pct)) {
            lost = true;
        }
        if (lost) {
            note_lost(datagram);
            continue;
        }
        if (chance(config_.corrupt_pct) && datagram.size() > k_media_header_bytes) {
            // Flip a byte of ciphertext or tag: the clear header stays valid,
            // so only authentication catches it.
            const size_t span = datagram.size() - k_media_header_bytes;
            const size_t at = k_media_header_bytes + std::uniform_int_distribution<size_t>(0, span - 1)(rng_);
            datagram[at] ^= static_cast<uint8_t>(1 + rng_() % 255);
            ++report.corrupted;
            note_lost(datagram);
        }
        if (chance(config_.forge_pct)) {
            std::vector<uint8_t> forged = datagram;
            forge(forged);
            out.push_back(std::move(forged));
            ++report.forged;
        }
        const bool duplicate = chance(config_.duplicate_pct);
        if (duplicate) {
            out.push_back(datagram);
            ++report.duplicated;
        }
        out.push_back(std::move(datagram));
    }
    if (config_.reorder_window > 1 && out.size() > 1) {
        for (size_t start = 0; start < out.size(); start += static_cast<size_t>(config_.reorder_window)) {
            const size_t end = std::min(out.size(), start + static_cast<size_t>(config_.reorder_window));
            std::shuffle(out.begin() + static_cast<std::ptrdiff_t>(start), out.begin() + static_cast<std::ptrdiff_t>(end),
                         rng_);
        }
        report.reordered = true;
    }
    std::sort(report.lost_data.begin(), report.lost_data.end());
    datagrams = std::move(out);
}

}  // namespace nb
