#include "audio/opus_audio_decoder.h"

#include <gtest/gtest.h>
#include <opus.h>

#include <memory>
#include <thread>
#include <vector>

#include "tests/audio/log_capture.h"
#include "tests/audio/tone_analysis.h"

namespace nb {
namespace {

constexpr int k_rate = 48000;
constexpr int k_channels = 2;

// Real Opus packets of a 440 Hz tone, made by libopus's own encoder.
class OpusPackets {
public:
    OpusPackets() {
        int error = OPUS_OK;
        encoder_ = opus_encoder_create(k_rate, k_channels, OPUS_APPLICATION_RESTRICTED_LOWDELAY, &error);
        if (error != OPUS_OK) encoder_ = nullptr;
    }
    ~OpusPackets() {
        if (encoder_ != nullptr) opus_encoder_destroy(encoder_);
    }
    OpusPackets(const OpusPackets&) = delete;
    OpusPackets& operator=(const OpusPackets&) = delete;

    bool ok() const { return encoder_ != nullptr; }

    // One packet holding `frames` samples per channel of the running tone.
    std::vector<uint8_t> next(int frames) {
        std::vector<float> pcm(static_cast<size_t>(frames) * k_channels);
        test::generate_tone(pcm, k_channels, 440.0, k_rate, 0.5, phase_);
        std::vector<uint8_t> packet(4000);
        const int len = opus_encode_float(encoder_, pcm.data(), frames, packet.data(),
                                          static_cast<opus_int32>(packet.size()));
        packet.resize(len > 0 ? static_cast<size_t>(len) : 0);
        return packet;
    }

private:
    OpusEncoder* encoder_ = nullptr;
    double phase_ = 0.0;
};

std::vector<float> pcm_buffer() { return std::vector<float>(960 * k_channels, 0.0f); }

TEST(OpusAudioDecoder, DecodesEachPacketDurationToItsSampleCount) {
    OpusPackets packets;
    ASSERT_TRUE(packets.ok());
    OpusAudioDecoder decoder;
    ASSERT_TRUE(decoder.initialize(48000, 2));
    auto pcm = pcm_buffer();
    for (int frames : {120, 240, 480, 960}) {
        const auto packet = packets.next(frames);
        ASSERT_FALSE(packet.empty());
        EXPECT_EQ(decoder.decode(packet, pcm), frames) << frames;
    }
}

TEST(OpusAudioDecoder, RefusesPacketsLongerThanTwentyMilliseconds) {
    OpusPackets packets;
    ASSERT_TRUE(packets.ok());
    test::LogCapture log;
    OpusAudioDecoder decoder;
    ASSERT_TRUE(decoder.initialize(48000, 2));
    auto pcm = pcm_buffer();
    const auto long_packet = packets.next(1920);  // 40 ms
    ASSERT_FALSE(long_packet.empty());
    const std::vector<float> canary(pcm.size() + 16, 3.0f);
    std::vector<float> guarded = canary;
    EXPECT_LT(decoder.decode(long_packet, std::span<float>(guarded).first(pcm.size())), 0);
    EXPECT_EQ(log.count("OpusAudioDecoder: decode error: "), 1u);
    for (size_t i = pcm.size(); i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 3.0f);

    // The stream carries on with the next good packet.
    EXPECT_EQ(decoder.decode(packets.next(960), pcm), 960);
}

TEST(OpusAudioDecoder, RejectsMalformedInputWithoutProducingSound) {
    test::LogCapture log;
    OpusAudioDecoder decoder;
    ASSERT_TRUE(decoder.initialize(48000, 2));
    auto pcm = pcm_buffer();
    // Code-3 packet announcing zero frames.
    const std::vector<uint8_t> bad = {0x03, 0x00};
    EXPECT_EQ(decoder.decode(bad, pcm), OPUS_INVALID_PACKET);
    // An empty payload would otherwise become 20 ms of loss concealment.
    EXPECT_EQ(decoder.decode({}, pcm), OPUS_INVALID_PACKET);
    // Too small an output buffer is refused before libopus can write to it.
    const std::vector<uint8_t> silence_packet = {0xF8, 0xFF, 0xFE};
    std::vector<float> small(100);
    EXPECT_EQ(decoder.decode(silence_packet, small), OPUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(log.count("OpusAudioDecoder: decode error: "), 3u);
}

TEST(OpusAudioDecoder, DecodedToneKeepsItsPitch) {
    OpusPackets packets;
    ASSERT_TRUE(packets.ok());
    OpusAudioDecoder decoder;
    ASSERT_TRUE(decoder.initialize(48000, 2));
    std::vector<float> all;
    auto pcm = pcm_buffer();
    for (int i = 0; i < 50; ++i) {
        const int n = decoder.decode(packets.next(960), pcm);
        ASSERT_EQ(n, 960);
        all.insert(all.end(), pcm.begin(), pcm.begin() + n * k_channels);
    }
    // Skip the codec's start-up delay before measuring.
    std::span<const float> settled(all);
    settled = settled.subspan(4800 * k_channels);
    EXPECT_NEAR(test::measure_frequency_hz(settled, 2, 0, 48000), 440.0, 2.0);
    EXPECT_NEAR(test::measure_frequency_hz(settled, 2, 1, 48000), 440.0, 2.0);
}

TEST(OpusAudioDecoder, LifecycleAndLogLines) {
    OpusPackets packets;
    ASSERT_TRUE(packets.ok());
    const auto packet = packets.next(960);
    auto pcm = pcm_buffer();

    test::LogCapture log;
    OpusAudioDecoder decoder;
    EXPECT_EQ(decoder.decode(packet, pcm), 0);  // not initialised: nothing decoded, nothing logged
    EXPECT_TRUE(log.lines().empty());

    EXPECT_FALSE(decoder.initialize(44100, 2));
    EXPECT_EQ(log.count("OpusAudioDecoder: opus_decoder_create failed: "), 1u);
    EXPECT_FALSE(decoder.is_initialized());
    EXPECT_EQ(decoder.decode(packet, pcm), 0);

    ASSERT_TRUE(decoder.initialize(48000, 2));
    ASSERT_TRUE(decoder.initialize(48000, 2));  // replaces the decoder
    EXPECT_EQ(log.count("OpusAudioDecoder: initialized (48000Hz, 2ch)"), 2u);
    EXPECT_EQ(decoder.decode(packet, pcm), 960);

    decoder.shutdown();
    decoder.shutdown();
    EXPECT_EQ(log.count("OpusAudioDecoder: shutdown"), 1u);
    EXPECT_EQ(decoder.decode(packet, pcm), 0);
}

// Two I/O threads decode while the session tears the decoder down; under the
// thread sanitizer this is the check that the lock covers all of it.
TEST(OpusAudioDecoder, ConcurrentDecodeAndShutdownAreSafe) {
    OpusPackets packets;
    ASSERT_TRUE(packets.ok());
    const auto packet = packets.next(960);
    auto decoder = std::make_unique<OpusAudioDecoder>();
    ASSERT_TRUE(decoder->initialize(48000, 2));
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            auto pcm = pcm_buffer();
            for (int i = 0; i < 200; ++i) {
                const int n = decoder->decode(packet, pcm);
                if (n != 960 && n != 0) ADD_FAILURE() << "unexpected result " << n;
            }
        });
    }
    decoder->shutdown();
    for (auto& t : threads) t.join();
}

}  // namespace
}  // namespace nb
