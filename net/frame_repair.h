// Rebuilds the lost data packets of a pending frame from its repair
// packets with the fountain-code decoder.
#pragma once

#include <cstdint>

#include "fec/wirehair.h"
#include "net/pending_frame.h"

namespace nb {

// The fountain-code entry points a repair uses. The defaults are the linked
// library; tests put in a codec that behaves like other builds of it.
struct FecCodecApi {
    decltype(&wirehair_decoder_create) decoder_create = wirehair_decoder_create;
    decltype(&wirehair_decode) decode = wirehair_decode;
    decltype(&wirehair_recover) recover = wirehair_recover;
    decltype(&wirehair_free) free = wirehair_free;
};

// Tries one repair of `frame`, whose missing data packets must not outnumber
// its repair packets. On success every missing packet is filled in, the
// received bits and count are complete, and the bytes added (also counted in
// frame.bytes) are returned in `added_bytes`. Each call builds and frees its
// own decoder. False leaves the frame untouched.
bool repair_frame(PendingFrame& frame, uint64_t& added_bytes, const FecCodecApi& codec_api = {});

}  // namespace nb
