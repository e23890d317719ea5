// The Media Foundation steps of finding and configuring a decoder transform,
// kept apart from the decoder's bookkeeping.
#pragma once

#include <mfapi.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <cstdint>
#include <vector>

#include "common/connection_params.h"
#include "video/video_decoder.h"

namespace nb {

template <class T>
using MfCom = Microsoft::WRL::ComPtr<T>;

// Decoder transforms for the codec, best first, as activation objects.
// Only synchronous transforms are listed: the asynchronous (vendor
// hardware) ones need an event loop that this decoder does not run, while
// Windows' own decoders decode on the GPU once they are given a DXGI device
// manager. Empty when the codec has no subtype or nothing is installed.
std::vector<MfCom<IMFActivate>> find_decoder_transforms(VideoCodec codec);

// Input of the codec at width x height. Returns the transform's result.
HRESULT set_input_type(IMFTransform* transform, VideoCodec codec, uint32_t width, uint32_t height);
// Walks the offered output types and takes the first NV12 one the
// transform accepts. Returns false when there is none.
bool set_nv12_output_type(IMFTransform* transform);

// What the decoder needs to know about the negotiated output.
struct MfOutputFormat {
    uint32_t frame_width = 0;   // the buffer's layout (coded size)
    uint32_t frame_height = 0;
    uint32_t visible_width = 0;  // the picture's shown part
    uint32_t visible_height = 0;
    uint32_t stride = 0;         // bytes per luma row of a contiguous buffer
    ColorMatrix matrix = ColorMatrix::unspecified;
    bool full_range = false;
    uint32_t sample_size = 0;      // bytes of one output sample
    bool transform_allocates = false;
};
// Reads the current output type and stream information; false when the
// transform has no usable output type yet.
bool read_output_format(IMFTransform* transform, MfOutputFormat& format);

}  // namespace nb
