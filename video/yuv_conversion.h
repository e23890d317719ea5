// Colour conversion from the decoder's Y'CbCr samples to display RGB, and the
// placement of a picture inside a window of another shape.
#pragma once

#include <array>
#include <cstdint>

#include "video/video_decoder.h"

namespace nb {

// rgb = matrix * (sample - offset), with samples normalised to 0..1 as the
// GPU reads 8-bit textures. `matrix` is column-major, as GL takes it.
struct YuvToRgb {
    std::array<float, 9> matrix{};
    std::array<float, 3> offset{};
};

// Streams that do not say which matrix they use get BT.709 from 720 lines
// up and BT.601 below, the convention every encoder of ours follows.
ColorMatrix effective_matrix(ColorMatrix signalled, uint32_t height);

YuvToRgb yuv_to_rgb(ColorMatrix matrix, bool full_range);

struct ViewRect {
    int32_t x = 0;  // from the left edge
    int32_t y = 0;  // from the bottom edge, as GL counts
    int32_t width = 0;
    int32_t height = 0;
};

// The largest rectangle of the picture's aspect that fits the window,
// centred; the rest of the window stays black.
ViewRect letterbox(uint32_t picture_width, uint32_t picture_height, uint32_t window_width, uint32_t window_height);

}  // namespace nb
