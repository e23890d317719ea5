// A depacketizer on a fake clock with a keyed decryption, collecting the
// frames it delivers and the packets it reports to statistics.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <utility>
#include <vector>

#include "tests/support/log_capture.h"
#include "net/depacketizer.h"
#include "video_stream.h"

namespace nb::test {

struct CountingStats : IPacketStats {
    void on_video_packet(uint32_t frame_id, uint16_t packet_count) override {
        std::lock_guard lock(mutex);
        calls.emplace_back(frame_id, packet_count);
    }
    std::mutex mutex;
    std::vector<std::pair<uint32_t, uint16_t>> calls;
};

class DepacketizerTest : public ::testing::Test {
protected:
    explicit DepacketizerTest(FecCodecApi fec = {}) : depacketizer_(decryption_, [this] { return clock_us_; }, fec) {
        decryption_.set_key(video_key());
        depacketizer_.set_frame_callback([this](CompletedFrame&& done) {
            std::lock_guard lock(mutex_);
            frames_.push_back(std::move(done));
        });
        depacketizer_.set_stats(&stats_);
    }

    void feed(const std::vector<uint8_t>& datagram) {
        depacketizer_.handle_datagram(datagram.data(), datagram.size(), from_);
    }
    void feed_all(const std::vector<std::vector<uint8_t>>& datagrams) {
        for (const auto& d : datagrams) feed(d);
    }
    std::vector<uint32_t> delivered_ids() {
        std::vector<uint32_t> ids;
        for (const auto& f : frames_) ids.push_back(f.frame_id);
        return ids;
    }

    LogCapture logs_;
    int64_t clock_us_ = 1'000'000;
    Decryption decryption_;
    Depacketizer depacketizer_;
    VideoStream stream_;
    CountingStats stats_;
    std::mutex mutex_;
    std::vector<CompletedFrame> frames_;
    asio::ip::udp::endpoint from_{asio::ip::make_address_v4("127.0.0.1"), 47998};
};

}  // namespace nb::test
