// Pictures of known samples for the renderer tests, and the colours they
// must come out as, shared by every renderer back end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "video/video_decoder.h"

namespace nb::test::pictures {

struct Yuv {
    uint8_t y, cb, cr;
};
struct Rgb {
    int r, g, b;
};
// 100% colour bars in BT.709, limited range.
constexpr Yuv k_red{63, 102, 240}, k_green{173, 42, 26}, k_blue{32, 240, 118}, k_white{235, 128, 128};

// A picture with its own planes, rows wider than the picture as decoders
// align them; `fill` paints a rectangle.
struct OwnedPicture {
    Picture picture;
    std::array<std::vector<uint8_t>, 3> planes;

    OwnedPicture(PixelLayout layout, uint32_t width, uint32_t height, ColorMatrix matrix = ColorMatrix::bt709,
                 bool full_range = false) {
        const bool nv12 = layout == PixelLayout::nv12;
        const int32_t stride = static_cast<int32_t>(width + 32), chroma = nv12 ? stride : stride / 2;
        picture = {.layout = layout, .width = width, .height = height, .matrix = matrix, .full_range = full_range};
        picture.strides = {stride, chroma, nv12 ? 0 : chroma};
        planes[0].assign(size_t(stride) * height, 0);
        for (int i = 1; i < (nv12 ? 2 : 3); ++i) planes[i].assign(size_t(chroma) * ((height + 1) / 2), 128);
        for (int i = 0; i < 3; ++i) picture.planes[i] = planes[i].empty() ? nullptr : planes[i].data();
    }
    OwnedPicture(PixelLayout layout, uint32_t width, uint32_t height, Yuv c) : OwnedPicture(layout, width, height) {
        fill(0, 0, width, height, c);
    }

    void fill(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, Yuv c) {
        const auto& s = picture.strides;
        for (uint32_t y = y0; y < y0 + h; ++y) std::fill_n(&planes[0][y * s[0] + x0], w, c.y);
        for (uint32_t y = y0 / 2; y < (y0 + h) / 2; ++y) {
            for (uint32_t x = x0 / 2; x < (x0 + w) / 2; ++x) {
                const bool nv12 = picture.layout == PixelLayout::nv12;
                planes[1][y * s[1] + (nv12 ? 2 * x : x)] = c.cb;
                (nv12 ? planes[1][y * s[1] + 2 * x + 1] : planes[2][y * s[2] + x]) = c.cr;
            }
        }
    }
};

inline void expect_pixel(const std::vector<uint8_t>& rows, uint32_t width, uint32_t x, uint32_t y, Rgb e, int tolerance = 3) {
    const size_t i = (size_t(y) * width + x) * 3;
    ASSERT_LT(i + 2, rows.size());
    EXPECT_NEAR(rows[i], e.r, tolerance) << "red at " << x << "," << y;
    EXPECT_NEAR(rows[i + 1], e.g, tolerance) << "green at " << x << "," << y;
    EXPECT_NEAR(rows[i + 2], e.b, tolerance) << "blue at " << x << "," << y;
}

struct ColourCase {
    const char* name;
    ColorMatrix matrix;
    bool full_range;
    uint32_t height;  // the matrix of unsignalled streams follows it
    Yuv sample;
    Rgb expected;
};

// Reference values from the standards' tables of 100% colour bars.
inline const ColourCase k_colour_cases[] = {
    {"limited white", ColorMatrix::bt709, false, 240, {235, 128, 128}, {255, 255, 255}},
    {"limited black", ColorMatrix::bt709, false, 240, {16, 128, 128}, {0, 0, 0}},
    {"below black clamps", ColorMatrix::bt709, false, 240, {4, 128, 128}, {0, 0, 0}},
    {"709 red", ColorMatrix::bt709, false, 240, {63, 102, 240}, {255, 0, 0}},
    {"709 green", ColorMatrix::bt709, false, 240, {173, 42, 26}, {0, 255, 0}},
    {"709 blue", ColorMatrix::bt709, false, 240, {32, 240, 118}, {0, 0, 255}},
    {"601 red", ColorMatrix::bt601, false, 240, {81, 90, 240}, {255, 0, 0}},
    {"601 green", ColorMatrix::bt601, false, 240, {145, 54, 34}, {0, 255, 0}},
    {"unsignalled SD is 601", ColorMatrix::unspecified, false, 240, {81, 90, 240}, {255, 0, 0}},
    {"unsignalled HD is 709", ColorMatrix::unspecified, false, 720, {63, 102, 240}, {255, 0, 0}},
    {"full range 601 red", ColorMatrix::bt601, true, 240, {76, 85, 255}, {254, 0, 0}},
    {"full range grey", ColorMatrix::bt709, true, 240, {128, 128, 128}, {128, 128, 128}},
};

}  // namespace nb::test::pictures
