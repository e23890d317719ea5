// Plane textures: R8 for luma and planar chroma, RG8 for NV12's interleaved chroma.
#include "video/yuv_textures.h"

#include "video/yuv_conversion.h"

namespace nb {

YuvTextures::Upload YuvTextures::upload(const GlFunctions& gl, const Picture& picture) {
    if (!uploadable(picture)) return Upload::rejected;
    const int planes = plane_count(picture.layout);

    Upload result = Upload::updated;
    if (empty() || picture.width != width_ || picture.height != height_ || picture.layout != layout_) {
        allocate(gl, picture);
        result = Upload::recreated;
    }
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < planes; ++i) {
        const PlaneShape s = plane_shape(picture, i);
        gl.BindTexture(GL_TEXTURE_2D, ids_[i]);
        gl.PixelStorei(GL_UNPACK_ROW_LENGTH, picture.strides[i] / s.bytes_per_texel);
        gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(s.width), static_cast<GLsizei>(s.height),
                         s.bytes_per_texel == 2 ? GL_RG : GL_RED, GL_UNSIGNED_BYTE, picture.planes[i]);
    }
    gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.BindTexture(GL_TEXTURE_2D, 0);
    return result;
}

void YuvTextures::allocate(const GlFunctions& gl, const Picture& picture) {
    destroy(gl);
    width_ = picture.width;
    height_ = picture.height;
    layout_ = picture.layout;
    luma_linear_ = true;
    chroma_linear_ = true;
    const int planes = plane_count(layout_);
    gl.GenTextures(planes, ids_.data());
    for (int i = 0; i < planes; ++i) {
        const PlaneShape s = plane_shape(picture, i);
        const bool rg = s.bytes_per_texel == 2;
        gl.BindTexture(GL_TEXTURE_2D, ids_[i]);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        gl.TexImage2D(GL_TEXTURE_2D, 0, rg ? GL_RG8 : GL_R8, static_cast<GLsizei>(s.width),
                      static_cast<GLsizei>(s.height), 0, rg ? GL_RG : GL_RED, GL_UNSIGNED_BYTE, nullptr);
    }
    gl.BindTexture(GL_TEXTURE_2D, 0);
}

void YuvTextures::bind(const GlFunctions& gl) const {
    for (int i = 0; i < 3; ++i) {
        gl.ActiveTexture(GL_TEXTURE0 + i);
        gl.BindTexture(GL_TEXTURE_2D, ids_[i]);
    }
    gl.ActiveTexture(GL_TEXTURE0);
}

void YuvTextures::set_filters(const GlFunctions& gl, bool luma_linear, bool chroma_linear) {
    const int planes = plane_count(layout_);
    for (int i = 0; i < planes; ++i) {
        const bool linear = i == 0 ? luma_linear : chroma_linear;
        if (linear == (i == 0 ? luma_linear_ : chroma_linear_)) continue;
        const GLint filter = linear ? GL_LINEAR : GL_NEAREST;
        gl.ActiveTexture(GL_TEXTURE0 + i);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    }
    gl.ActiveTexture(GL_TEXTURE0);
    luma_linear_ = luma_linear;
    chroma_linear_ = chroma_linear;
}

void YuvTextures::destroy(const GlFunctions& gl) {
    const int planes = ids_[2] ? 3 : (ids_[1] ? 2 : (ids_[0] ? 1 : 0));
    if (planes) gl.DeleteTextures(planes, ids_.data());
    ids_ = {};
    width_ = 0;
    height_ = 0;
}

}  // namespace nb
