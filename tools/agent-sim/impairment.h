// Seeded, reproducible damage to a stream on its way out: loss, bursts,
// reordering, duplication, corrupted ciphertext, forged datagrams and whole
// frames withheld. The same seed and stream give the same damage.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/agent-sim/agent_options.h"

namespace nb {

struct ImpairmentReport {
    bool withheld = false;
    // Data packet indices the client cannot use (dropped or corrupted).
    std::vector<uint16_t> lost_data;
    uint32_t lost_repair = 0;
    uint32_t duplicated = 0;
    uint32_t corrupted = 0;
    uint32_t forged = 0;
    bool reordered = false;

    nlohmann::json to_json() const;
};

class Impairment {
public:
    Impairment(const ImpairmentConfig& config, uint64_t seed);

    // Damages the datagrams of one frame (or one audio packet) in place.
    // Each datagram must start with its 22-byte media header.
    void apply(uint32_t frame_id, std::vector<std::vector<uint8_t>>& datagrams, ImpairmentReport& report);

    bool active() const { return config_.any(); }

private:
    bool chance(double pct);
    void forge(std::vector<uint8_t>& datagram);

    ImpairmentConfig config_;
    std::mt19937_64 rng_;
    int burst_left_ = 0;  // bursts run on across frames, as on a real link
};

}  // namespace nb
