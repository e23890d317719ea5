// Audio datagrams into the real Opus path: payloads sealed with the session
// key but of any content and length, and raw datagrams. Nothing crashes and
// every packet that reaches the player is at most 20 ms of finite samples.
#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/opus_audio_decoder.h"
#include "fuzz/support/fuzz_input.h"
#include "audio/audio_packet_handler.h"
#include "net/decryption.h"
#include "net/media_encryption.h"

namespace {

using nb::fuzz::FuzzInput;

class CheckingSink final : public nb::IAudioSink {
public:
    bool initialize(uint32_t, uint32_t) override { return true; }
    bool start() override { return true; }
    void push_samples(const float* interleaved, size_t frames) override {
        NB_FUZZ_CHECK(frames <= static_cast<size_t>(nb::IAudioDecoder::k_max_frame_samples));
        for (size_t i = 0; i < frames * nb::AudioPacketHandler::k_pcm_channels; ++i) {
            NB_FUZZ_CHECK(std::isfinite(interleaved[i]));
        }
    }
    void stop() override {}
    bool is_initialized() const override { return true; }
};

struct Rig {
    nb::Decryption decryption;
    nb::MediaEncryption encryption;
    nb::OpusAudioDecoder decoder;
    CheckingSink sink;
    Rig() {
        std::vector<uint8_t> key(nb::k_aead_key_bytes, 0x3C);
        NB_FUZZ_CHECK(decryption.set_key(key) && encryption.set_key(key));
        NB_FUZZ_CHECK(decoder.initialize(48000, 2));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nb::fuzz::quiet_logs();
    static Rig rig;
    nb::AudioPacketHandler handler(rig.decryption, rig.decoder, &rig.sink);
    FuzzInput in(data, size);
    uint32_t sequence = in.u32();
    while (!in.empty()) {
        if ((in.u8() & 3) == 0) {
            const auto raw = in.bytes(in.u16() % 1400);
            handler.handle_datagram(raw.data(), raw.size(), {});
            continue;
        }
        nb::MediaHeader header;
        header.nonce_prefix = 7;
        header.frame_id = sequence++;
        header.packet_count = 1;
        header.flags = in.u8();
        const auto payload = in.bytes(in.u16() % 1300);
        const auto datagram = rig.encryption.seal(header, payload);
        handler.handle_datagram(datagram.data(), datagram.size(), {});
    }
    return 0;
}
