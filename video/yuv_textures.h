// The textures that hold the last picture's planes. They are allocated once
// per picture size and layout and then only overwritten.
#pragma once

#include <array>
#include <cstdint>

#include "video/gl_functions.h"
#include "video/video_decoder.h"

namespace nb {

class YuvTextures {
public:
    enum class Upload { rejected, updated, recreated };

    // Copies the picture's planes in, reallocating only when its size or
    // layout differs from the textures'. Rejects pictures the GPU cannot
    // take as they are (missing planes, odd strides).
    Upload upload(const GlFunctions& gl, const Picture& picture);
    // Binds the planes to texture units 0..2.
    void bind(const GlFunctions& gl) const;
    // Filtering of luma and of chroma: linear, or nearest where it changes
    // nothing (luma drawn 1:1) or where speed matters more than smooth
    // chroma edges (software rasterisers). Needs the textures bound.
    void set_filters(const GlFunctions& gl, bool luma_linear, bool chroma_linear);
    void destroy(const GlFunctions& gl);

    bool empty() const { return ids_[0] == 0; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    PixelLayout layout() const { return layout_; }

private:
    void allocate(const GlFunctions& gl, const Picture& picture);

    std::array<GLuint, 3> ids_{};
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    PixelLayout layout_ = PixelLayout::yuv420p;
    bool luma_linear_ = true;
    bool chroma_linear_ = true;
};

}  // namespace nb
