// Y'CbCr to RGB coefficients (ITU-R BT.601 and BT.709) and letterboxing.
#include "video/yuv_conversion.h"

#include <cmath>

namespace nb {

const char* layout_name(PixelLayout layout) { return layout == PixelLayout::nv12 ? "NV12" : "YUV420P"; }

int plane_count(PixelLayout layout) { return layout == PixelLayout::nv12 ? 2 : 3; }

PlaneShape plane_shape(const Picture& p, int plane) {
    if (plane == 0) return {p.width, p.height, 1};
    return {(p.width + 1) / 2, (p.height + 1) / 2, p.layout == PixelLayout::nv12 ? 2 : 1};
}

bool uploadable(const Picture& picture) {
    if (picture.width == 0 || picture.height == 0) return false;
    for (int i = 0; i < plane_count(picture.layout); ++i) {
        const PlaneShape s = plane_shape(picture, i);
        const int32_t stride = picture.strides[i];
        if (!picture.planes[i] || stride <= 0 || stride % s.bytes_per_texel != 0 ||
            static_cast<uint32_t>(stride / s.bytes_per_texel) < s.width) {
            return false;
        }
    }
    return true;
}

ColorMatrix effective_matrix(ColorMatrix signalled, uint32_t height) {
    if (signalled != ColorMatrix::unspecified) return signalled;
    return height >= 720 ? ColorMatrix::bt709 : ColorMatrix::bt601;
}

YuvToRgb yuv_to_rgb(ColorMatrix matrix, bool full_range) {
    const bool hd = matrix == ColorMatrix::bt709;
    const double kr = hd ? 0.2126 : 0.299;
    const double kb = hd ? 0.0722 : 0.114;
    const double kg = 1.0 - kr - kb;
    // Limited range puts black at 16 and white at 235 (chroma 16..240), so
    // the samples are stretched back to the full scale before the matrix.
    const double ys = full_range ? 1.0 : 255.0 / 219.0;
    const double cs = full_range ? 1.0 : 255.0 / 224.0;

    const double r_cr = 2.0 * (1.0 - kr) * cs;
    const double g_cb = -2.0 * kb * (1.0 - kb) / kg * cs;
    const double g_cr = -2.0 * kr * (1.0 - kr) / kg * cs;
    const double b_cb = 2.0 * (1.0 - kb) * cs;

    YuvToRgb out;
    // Column 0 multiplies Y', column 1 Cb, column 2 Cr.
    out.matrix = {static_cast<float>(ys), static_cast<float>(ys), static_cast<float>(ys),
                  0.0f,                   static_cast<float>(g_cb), static_cast<float>(b_cb),
                  static_cast<float>(r_cr), static_cast<float>(g_cr), 0.0f};
    out.offset = {full_range ? 0.0f : 16.0f / 255.0f, 128.0f / 255.0f, 128.0f / 255.0f};
    return out;
}

SampleWindow sample_window(uint32_t texture_width, uint32_t texture_height, uint32_t visible_width,
                           uint32_t visible_height) {
    const auto tw = static_cast<float>(texture_width);
    const auto th = static_cast<float>(texture_height);
    const auto ctw = static_cast<float>((texture_width + 1) / 2);
    const auto cth = static_cast<float>((texture_height + 1) / 2);
    const auto vw = static_cast<float>(visible_width);
    const auto vh = static_cast<float>(visible_height);
    const auto cvw = static_cast<float>((visible_width + 1) / 2);
    const auto cvh = static_cast<float>((visible_height + 1) / 2);
    SampleWindow w;
    w.uv_scale = {vw / tw, vh / th};
    w.luma_max = {(vw - 0.5f) / tw, (vh - 0.5f) / th};
    w.chroma_max = {(cvw - 0.5f) / ctw, (cvh - 0.5f) / cth};
    return w;
}

uint32_t visible_extent(uint32_t picture, uint32_t requested) {
    constexpr uint32_t k_max_padding = 64;
    if (requested > 0 && requested <= picture && picture - requested < k_max_padding) return requested;
    return picture;
}

ViewRect letterbox(uint32_t picture_width, uint32_t picture_height, uint32_t window_width, uint32_t window_height) {
    ViewRect r{0, 0, static_cast<int32_t>(window_width), static_cast<int32_t>(window_height)};
    if (picture_width == 0 || picture_height == 0 || window_width == 0 || window_height == 0) return r;
    // Compare aspects in integers so equal shapes fill the window exactly.
    const uint64_t lhs = uint64_t{picture_width} * window_height;
    const uint64_t rhs = uint64_t{window_width} * picture_height;
    if (lhs > rhs) {
        // Wider than the window: bars above and below.
        r.height = static_cast<int32_t>(std::lround(double(window_width) * picture_height / picture_width));
        r.y = (static_cast<int32_t>(window_height) - r.height) / 2;
    } else if (lhs < rhs) {
        r.width = static_cast<int32_t>(std::lround(double(window_height) * picture_width / picture_height));
        r.x = (static_cast<int32_t>(window_width) - r.width) / 2;
    }
    return r;
}

}  // namespace nb
