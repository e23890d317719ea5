// The Opus decoder on packets from libopus's own encoder.
#include "audio/opus_audio_decoder.h"

#include <gtest/gtest.h>
#include <opus.h>

#include <memory>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/audio/tone_analysis.h"

namespace nb {
namespace {

constexpr int k_rate = 48000;
constexpr int k_channels = 2;

// Real Opus packets of a 440 Hz tone, made by libopus's own encoder.
class OpusPackets {
public:
    bool ok() const { return encoder_ != nullptr; }

    // One packet holding `frames` samples per channel of the running tone.
    std::vector<uint8_t> next(int frames) {
        std::vector<float> pcm(static_cast<size_t>(frames) * k_channels);
        test::generate_tone(pcm, k_channels, 440.0, k_rate, 0.5, phase_);
        std::vector<uint8_t> packet(4000);
        const int len = opus_encode_float(encoder_.get(), pcm.data(), frames, packet.data(),
                                          static_cast<opus_int32>(packet.size()));
        packet.resize(len > 0 ? static_cast<size_t>(len) : 0);
        return packet;
    }

private:
    static OpusEncoder* create() {
        int error = OPUS_OK;
        OpusEncoder* encoder = opus_encoder_create(k_rate, k_channels, OPUS_APPLICATION_RESTRICTED_LOWDELAY, &error);
        return error == OPUS_OK ? encoder : nullptr;
    }

    std::unique_ptr<OpusEncoder, decltype(&opus_encoder_destroy)> encoder_{create(), &opus_encoder_destroy};
    double phase_ = 0.0;
};

// A decoder initialised for the stream's format, with packets to feed it.
class OpusAudioDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(packets_.ok());
        ASSERT_TRUE(decoder_.initialize(k_rate, k_channels));
    }

    test::LogCapture log_;
    OpusPackets packets_;
    OpusAudioDecoder decoder_;
    std::vector<float> pcm_ = std::vector<float>(960 * k_channels);
};

TEST_F(OpusAudioDecoderTest, RefusesLongOrMalformedPacketsWithoutProducingSound) {
    const auto long_packet = packets_.next(1920);  // 40 ms
    ASSERT_FALSE(long_packet.empty());
    std::vector<float> guarded(pcm_.size() + 16, 3.0f);
    EXPECT_LT(decoder_.decode(long_packet, std::span<float>(guarded).first(pcm_.size())), 0);
    EXPECT_EQ(log_.count_containing("OpusAudioDecoder: decode error: "), 1u);
    for (size_t i = pcm_.size(); i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 3.0f);

    // The stream carries on with the next good packet.
    EXPECT_EQ(decoder_.decode(packets_.next(960), pcm_), 960);

    // Code-3 packet announcing zero frames.
    const std::vector<uint8_t> bad = {0x03, 0x00};
    EXPECT_EQ(decoder_.decode(bad, pcm_), OPUS_INVALID_PACKET);
    // An empty payload would otherwise become 20 ms of loss concealment.
    EXPECT_EQ(decoder_.decode({}, pcm_), OPUS_INVALID_PACKET);
    // Too small an output buffer is refused before libopus can write to it.
    const std::vector<uint8_t> silence_packet = {0xF8, 0xFF, 0xFE};
    std::vector<float> small(100);
    EXPECT_EQ(decoder_.decode(silence_packet, small), OPUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(log_.count_containing("OpusAudioDecoder: decode error: "), 4u);
}

TEST_F(OpusAudioDecoderTest, DecodesEveryPacketDurationAndKeepsThePitch) {
    std::vector<float> all;
    std::vector<int> durations{120, 240, 480};
    durations.resize(durations.size() + 50, 960);
    for (const int frames : durations) {
        const auto packet = packets_.next(frames);
        ASSERT_FALSE(packet.empty());
        ASSERT_EQ(decoder_.decode(packet, pcm_), frames);
        all.insert(all.end(), pcm_.begin(), pcm_.begin() + frames * k_channels);
    }
    // Skip the codec's start-up delay before measuring.
    const auto settled = std::span<const float>(all).subspan(4800 * k_channels);
    EXPECT_NEAR(test::measure_frequency_hz(settled, 2, 0, 48000), 440.0, 2.0);
    EXPECT_NEAR(test::measure_frequency_hz(settled, 2, 1, 48000), 440.0, 2.0);
}

TEST_F(OpusAudioDecoderTest, LifecycleAndLogLines) {
    const auto packet = packets_.next(960);
    test::LogCapture log;
    OpusAudioDecoder decoder;
    EXPECT_EQ(decoder.decode(packet, pcm_), 0);  // not initialised: nothing decoded, nothing logged
    EXPECT_TRUE(log.texts().empty());

    EXPECT_FALSE(decoder.initialize(44100, 2));
    EXPECT_EQ(log.count_containing("OpusAudioDecoder: opus_decoder_create failed: "), 1u);
    EXPECT_FALSE(decoder.is_initialized());
    EXPECT_EQ(decoder.decode(packet, pcm_), 0);

    ASSERT_TRUE(decoder.initialize(48000, 2));
    ASSERT_TRUE(decoder.initialize(48000, 2));  // replaces the decoder
    EXPECT_EQ(log.count_containing("OpusAudioDecoder: initialized (48000Hz, 2ch)"), 2u);
    EXPECT_EQ(decoder.decode(packet, pcm_), 960);

    decoder.shutdown();
    decoder.shutdown();
    EXPECT_EQ(log.count_containing("OpusAudioDecoder: shutdown"), 1u);
    EXPECT_EQ(decoder.decode(packet, pcm_), 0);
}

// Two I/O threads decode while the session tears the decoder down; under the
// thread sanitizer this is the check that the lock covers all of it.
TEST_F(OpusAudioDecoderTest, ConcurrentDecodeAndShutdownAreSafe) {
    const auto packet = packets_.next(960);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            std::vector<float> pcm(960 * k_channels);
            for (int i = 0; i < 200; ++i) {
                const int n = decoder_.decode(packet, pcm);
                if (n != 960 && n != 0) ADD_FAILURE() << "unexpected result " << n;
            }
        });
    }
    decoder_.shutdown();
    for (auto& t : threads) t.join();
}

}  // namespace
}  // namespace nb
