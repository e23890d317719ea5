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

const char* layout_name(PixelLayout layout);

// The shape of one plane of a picture: texels, and bytes per texel (2 for
// NV12's interleaved chroma pairs).
struct PlaneShape {
    uint32_t width;
    uint32_t height;
    int bytes_per_texel;
};
int plane_count(PixelLayout layout);
PlaneShape plane_shape(const Picture& picture, int plane);
// Every plane present, with rows of whole texels at least as wide as the
// plane: what a GPU upload can take as it is.
bool uploadable(const Picture& picture);

// Streams that do not say which matrix they use get BT.709 from 720 lines
// up and BT.601 below, the convention every encoder of ours follows.
ColorMatrix effective_matrix(ColorMatrix signalled, uint32_t height);

YuvToRgb yuv_to_rgb(ColorMatrix matrix, bool full_range);

// Where the shaders sample a plane texture of texture_width x
// texture_height that shows visible_width x visible_height: texture
// coordinates run from 0 to uv_scale, and are clamped to the last texel
// centres inside the visible part so that filtering never blends in the
// coding padding beyond it.
struct SampleWindow {
    std::array<float, 2> uv_scale{};
    std::array<float, 2> luma_max{};
    std::array<float, 2> chroma_max{};
};
SampleWindow sample_window(uint32_t texture_width, uint32_t texture_height, uint32_t visible_width,
                           uint32_t visible_height);

// How much of a picture's extent to show when the stream asked for
// `requested`. Coded sizes round up to whole coding blocks (1080 lines are
// coded as 1088, up to 64 for HEVC's largest blocks); a picture less than
// that larger than the stream's size carries padding below and right of the
// visible part. Anything larger is a genuinely new size and is shown whole.
uint32_t visible_extent(uint32_t picture, uint32_t requested);

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
