// The audio datagram path with a fake decoder and sink at the audio seam.
#include <gtest/gtest.h>

#include "audio/audio_packet_handler.h"
#include "net/media_encryption.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

// Decodes a "packet" whose first byte says how many frames it holds; each
// sample is the packet's second byte, so the PCM shows which packet it is.
class FakeDecoder : public IAudioDecoder {
public:
    bool initialize(uint32_t, uint32_t) override { return true; }
    int decode(std::span<const uint8_t> packet, std::span<float> pcm) override {
        packets.emplace_back(packet.begin(), packet.end());
        if (packet.size() < 2) return -4;  // OPUS_INVALID_PACKET
        const int frames = packet[0] * 10;
        if (static_cast<size_t>(frames) * 2 > pcm.size()) return -1;  // would overflow the buffer
        for (int i = 0; i < frames * 2; ++i) pcm[i] = packet[1];
        return frames;
    }
    void shutdown() override {}
    uint32_t channels() const override { return 2; }
    std::vector<std::vector<uint8_t>> packets;
};

class FakeSink : public IAudioSink {
public:
    bool initialize(uint32_t, uint32_t) override { return initialized = true; }
    bool start() override { return true; }
    void push_samples(const float* pcm, size_t frames) override { pushes.emplace_back(pcm, pcm + frames * 2); }
    void stop() override {}
    bool is_initialized() const override { return initialized; }
    bool initialized = true;
    std::vector<std::vector<float>> pushes;
};

class AudioPathTest : public ::testing::Test {
protected:
    AudioPathTest() : handler_(decryption_, decoder_, &sink_, [this] { return clock_us_; }) {
        key_.assign(32, 0x3C);
        decryption_.set_key(key_);
        sealer_.set_key(key_);
    }
    std::vector<uint8_t> datagram(std::vector<uint8_t> opus, uint32_t frame_id = 1) {
        MediaHeader header;
        header.frame_id = frame_id;
        return sealer_.seal(header, opus);
    }
    void feed(const std::vector<uint8_t>& d) { handler_.handle_datagram(d.data(), d.size(), {}); }

    test::LogCapture logs_;
    int64_t clock_us_ = 1'000'000;
    std::vector<uint8_t> key_;
    Decryption decryption_;
    MediaEncryption sealer_;
    FakeDecoder decoder_;
    FakeSink sink_;
    AudioPacketHandler handler_;
};

TEST_F(AudioPathTest, PushesWhatDecodesWhileThePlayerIsReady) {
    feed(datagram({96, 7}));  // 960 frames, the most one packet may hold
    feed(datagram({1, 8}));
    ASSERT_EQ(sink_.pushes.size(), 2u);
    EXPECT_EQ(sink_.pushes[0].size(), 1920u);
    EXPECT_EQ(sink_.pushes[0].front(), 7.0f);
    EXPECT_EQ(sink_.pushes[1], std::vector<float>(20, 8.0f));
    EXPECT_EQ(decoder_.packets[1], (std::vector<uint8_t>{1, 8}));

    feed(datagram({97, 1}));  // more than 960 frames: refused by the decoder
    feed(datagram({0, 1}));   // decodes to nothing
    feed(datagram({5}));      // decoder error
    EXPECT_EQ(sink_.pushes.size(), 2u);
    EXPECT_EQ(decoder_.packets.size(), 5u);

    sink_.initialized = false;  // no player: decoded, not pushed
    feed(datagram({2, 2}));
    EXPECT_EQ(sink_.pushes.size(), 2u);
    EXPECT_EQ(decoder_.packets.size(), 6u);
}

TEST_F(AudioPathTest, RuntsAndOversizeDatagrams) {
    feed(std::vector<uint8_t>(37, 0));
    EXPECT_EQ(logs_.matching("Audio: runt packet"), std::vector<std::string>{"Audio: runt packet (37 bytes)"});
    // The smallest datagram: an empty Opus packet behind header and tag.
    const auto smallest = datagram({});
    ASSERT_EQ(smallest.size(), 38u);
    feed(smallest);
    EXPECT_EQ(decoder_.packets.size(), 1u);

    const auto largest = datagram(std::vector<uint8_t>(1162, 1));
    ASSERT_EQ(largest.size(), 1200u);
    feed(largest);
    EXPECT_EQ(decoder_.packets.size(), 2u);
    const size_t lines_before = logs_.texts().size();
    feed(datagram(std::vector<uint8_t>(1163, 1)));  // 1201 bytes: dropped without a line
    EXPECT_EQ(decoder_.packets.size(), 2u);
    EXPECT_EQ(logs_.texts().size(), lines_before);
    EXPECT_EQ(handler_.decrypt_failures(), 0u);
}

TEST_F(AudioPathTest, ThrottlesDecryptionFailureLines) {
    auto bad = datagram({1, 1}, 4242);
    bad.back() ^= 1;
    for (int i = 0; i < 400; ++i) feed(bad);
    clock_us_ += 1'000'000;
    for (int i = 0; i < 400; ++i) feed(bad);
    EXPECT_EQ(handler_.decrypt_failures(), 800u);
    const auto lines = logs_.matching("Audio decrypt failed");
    ASSERT_EQ(lines.size(), 2u);  // one a second, whatever the rate
    EXPECT_EQ(lines[0], "Audio decrypt failed (total=1, fid=4242, len=18); 1 since the last line");
    EXPECT_EQ(lines[1], "Audio decrypt failed (total=401, fid=4242, len=18); 400 since the last line");
    EXPECT_TRUE(decoder_.packets.empty());
}

TEST_F(AudioPathTest, WithoutAKeyEveryPacketFails) {
    Decryption no_key;
    AudioPacketHandler handler(no_key, decoder_, &sink_);
    const std::vector<uint8_t> d(60, 0);
    for (int i = 0; i < 3; ++i) handler.handle_datagram(d.data(), d.size(), {});
    EXPECT_EQ(handler.decrypt_failures(), 3u);
    EXPECT_EQ(logs_.count_containing("Decryption: attempted decrypt before key is set"), 3u);
    EXPECT_TRUE(sink_.pushes.empty());
}

}  // namespace
}  // namespace nb
