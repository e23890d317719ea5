// Rebuilds the lost data packets of a pending frame from its repair
// packets with the fountain-code decoder.
#pragma once

#include <cstdint>

#include "net/pending_frame.h"

namespace nb {

// Tries one repair of `frame`, whose missing data packets must not outnumber
// its repair packets. On success every missing packet is filled in, the
// received bits and count are complete, and the bytes added (also counted in
// frame.bytes) are returned in `added_bytes`. Each call builds and frees its
// own decoder. False leaves the frame untouched.
bool repair_frame(PendingFrame& frame, uint64_t& added_bytes);

}  // namespace nb
