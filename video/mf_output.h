// Decoded NV12 samples copied out of Media Foundation into the pictures the
// renderer takes, so that the transform can reuse its buffers (or GPU
// surfaces) at once.
#pragma once

#include <mfobjects.h>

#include <cstdint>
#include <vector>

#include "video/mf_transform.h"
#include "video/video_decoder.h"

namespace nb {

struct MfPictureSlot {
    std::vector<uint8_t> bytes;  // luma rows, then interleaved chroma rows
    Picture picture;
};

// Copies the sample's first buffer into `slot` as laid out by `format`.
// False when the buffer cannot be locked or is smaller than that layout.
bool copy_nv12_sample(IMFSample* sample, const MfOutputFormat& format, MfPictureSlot& slot);

// A sample with one memory buffer of `size` bytes, for transforms that want
// the caller to supply the output sample.
MfCom<IMFSample> make_output_sample(uint32_t size);

}  // namespace nb
