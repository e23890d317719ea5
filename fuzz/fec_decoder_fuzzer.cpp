// The fountain decoder fed as the input says: sizes at and past the limits,
// block ids anywhere in 32 bits, wrong lengths, repeats, garbage. Blocks the
// encoder made for the same message are mixed in, and whenever the decoder
// reports success from those alone the message must come back exactly.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fec/wirehair.h"
#include "fuzz/support/fuzz_input.h"

namespace {

using nb::fuzz::FuzzInput;

struct Codec {
    WirehairCodec handle = nullptr;
    ~Codec() { wirehair_free(handle); }
};

bool known_result(WirehairResult r) { return r >= Wirehair_Success && r <= Wirehair_OOM; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nb::fuzz::quiet_logs();
    static const bool ready = wirehair_init() == Wirehair_Success;
    NB_FUZZ_CHECK(ready);
    FuzzInput in(data, size);

    // Small messages most of the time: they decode fast and reach success.
    // Large block counts come with small blocks, which keeps every input
    // under a megabyte of work.
    const uint32_t blocks = (in.u8() & 7) == 0 ? in.u16() % 4100 : in.u8() % 80;
    const uint32_t block_bytes = blocks > 255      ? 1 + in.u8() % 32
                                 : (in.u8() & 1) != 0 ? 1 + in.u16() % 1500
                                                      : 1 + in.u8() % 64;
    const uint64_t message_bytes = blocks == 0 ? in.u8() : uint64_t{blocks} * block_bytes - in.u16() % block_bytes;

    Codec decoder{wirehair_decoder_create(nullptr, message_bytes, block_bytes)};
    if (decoder.handle == nullptr) return 0;  // refused sizes: N = 1, zero, past the limits

    const auto message = nb::fuzz::pseudo_random_bytes(in.u32(), message_bytes);
    Codec encoder{wirehair_encoder_create(nullptr, message.data(), message.size(), block_bytes)};
    NB_FUZZ_CHECK(encoder.handle != nullptr);

    std::vector<uint8_t> block(block_bytes + 16);
    std::vector<uint8_t> out(message_bytes);
    bool only_genuine = true;
    bool succeeded = false;
    while (!in.empty() && !succeeded) {
        const uint8_t op = in.u8();
        uint32_t id = 0;
        switch (op % 4) {
        case 0: id = in.u16() % (blocks + 1); break;                // original blocks (and N itself)
        case 1: id = blocks + in.u8(); break;                       // the repair ids on the wire
        case 2: id = in.u32(); break;                               // anywhere
        default: id = in.u8() % 4 == 0 ? 0xFFFFFFFFu : blocks - 1; break;
        }
        uint32_t length = block_bytes;
        if ((op & 0x30) == 0x30) {
            // Garbage of any length under this id.
            length = in.u16() % (block_bytes + 16);
            const auto bytes = in.bytes(length);
            std::fill(block.begin(), block.end(), 0);
            std::copy(bytes.begin(), bytes.end(), block.begin());
            only_genuine = false;
        } else {
            NB_FUZZ_CHECK(wirehair_encode(encoder.handle, id, block.data(), block_bytes, &length) ==
                          Wirehair_Success);
        }
        const WirehairResult r = wirehair_decode(decoder.handle, id, block.data(), length);
        NB_FUZZ_CHECK(known_result(r));
        if (r != Wirehair_Success) {
            // Until the decoder succeeds there is nothing to recover.
            if ((op & 0x0C) == 0x0C) {
                NB_FUZZ_CHECK(wirehair_recover(decoder.handle, out.data(), out.size()) == Wirehair_NeedMore);
            }
            continue;
        }
        succeeded = true;
        NB_FUZZ_CHECK(wirehair_recover(decoder.handle, out.data(), out.size()) == Wirehair_Success);
        if (only_genuine) NB_FUZZ_CHECK(out == message);
    }
    return 0;
}
