// The shader pair that turns the picture's planes into RGB pixels.
#pragma once

#include <cstdint>

#include "video/gl_functions.h"
#include "video/yuv_conversion.h"

namespace nb {

class YuvProgram {
public:
    // Compiles and links with the context current; logs the driver's
    // message and returns false when that fails.
    bool create(const GlFunctions& gl);
    void destroy(const GlFunctions& gl);

    // Draws the textures bound to units 0..2 over the current viewport,
    // showing their top-left visible_width x visible_height luma samples.
    void draw(const GlFunctions& gl, bool nv12, const YuvToRgb& conversion, uint32_t texture_width,
              uint32_t texture_height, uint32_t visible_width, uint32_t visible_height) const;

private:
    GLuint program_ = 0;
    GLuint vertex_array_ = 0;
    GLint nv12_ = -1;
    GLint matrix_ = -1;
    GLint offset_ = -1;
    GLint uv_scale_ = -1;
    GLint luma_max_ = -1;
    GLint chroma_max_ = -1;
};

}  // namespace nb
