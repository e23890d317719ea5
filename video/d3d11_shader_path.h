// Y'CbCr to RGB conversion in a pixel shader, for pictures in CPU memory on
// devices without a video processor (or without NV12 textures): the planes
// go into reused R8/R8G8 textures and one full-viewport triangle converts
// and scales them into the render target.
#pragma once

#include <d3d11.h>
#include <wrl/client.h>

#include <array>
#include <cstdint>

#include "video/video_decoder.h"
#include "video/yuv_conversion.h"

namespace nb {

class D3d11ShaderPath {
public:
    enum class Upload { rejected, updated, recreated };

    // Compiles the shaders and creates the fixed state. False, logged, when
    // the compiler or the device refuses.
    bool create(ID3D11Device* device);
    void destroy();
    bool ready() const { return pixel_shader_ != nullptr; }

    // Copies the picture's planes into the textures, reallocating them only
    // when its size or layout differs from theirs.
    Upload upload(ID3D11Device* device, ID3D11DeviceContext* context, const Picture& picture);
    // Draws the uploaded planes, cropped to visible_width x visible_height,
    // into `target` at `viewport`.
    void draw(ID3D11DeviceContext* context, ID3D11RenderTargetView* target, const D3D11_VIEWPORT& viewport,
              const YuvToRgb& conversion, uint32_t visible_width, uint32_t visible_height);

    bool empty() const { return !planes_[0]; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    PixelLayout layout() const { return layout_; }

private:
    bool allocate(ID3D11Device* device, const Picture& picture);

    template <class T>
    using Com = Microsoft::WRL::ComPtr<T>;
    Com<ID3D11VertexShader> vertex_shader_;
    Com<ID3D11PixelShader> pixel_shader_;
    Com<ID3D11Buffer> constants_;
    Com<ID3D11SamplerState> sampler_;
    Com<ID3D11RasterizerState> rasterizer_;
    Com<ID3D11BlendState> blend_;
    std::array<Com<ID3D11Texture2D>, 3> planes_;
    std::array<Com<ID3D11ShaderResourceView>, 3> views_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    PixelLayout layout_ = PixelLayout::yuv420p;
};

}  // namespace nb
