// A planar YUV 4:2:0 picture (BT.601 limited range) owned in three vectors.
// The scene renders into it and the encoder reads it without a copy.
#pragma once

#include <cstdint>
#include <vector>

namespace nb {

struct YuvPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y;  // width x height, stride = width
    std::vector<uint8_t> u;  // chroma_width x chroma_height
    std::vector<uint8_t> v;

    int chroma_width() const { return (width + 1) / 2; }
    int chroma_height() const { return (height + 1) / 2; }

    void allocate(int w, int h) {
        width = w;
        height = h;
        y.assign(static_cast<size_t>(w) * h, 16);
        u.assign(static_cast<size_t>(chroma_width()) * chroma_height(), 128);
        v.assign(u.size(), 128);
    }
};

}  // namespace nb
