// HLSL conversion of uploaded planes, compiled once when the renderer starts.
#include "video/d3d11_shader_path.h"

#include <d3dcompiler.h>
#include <spdlog/spdlog.h>

#include <cstring>
#include <string_view>

#include "video/hresult.h"

namespace nb {

namespace {

using Microsoft::WRL::ComPtr;

// One triangle that covers the viewport, built from the vertex index alone:
// no vertex buffer or input layout to keep. Row 0 of the picture is its top.
// Written for the simplest compilers too (wine's has no ?: operator): the
// chroma layout is chosen by arithmetic, not by a branch.
constexpr std::string_view k_shader_source = R"(
cbuffer Conversion : register(b0) {
    float4 row_r;       // xyz: weights of Y', Cb, Cr
    float4 row_g;
    float4 row_b;
    float4 offset;      // xyz; w: 1 when plane 1 holds interleaved Cb/Cr
    float4 uv_window;   // xy: texture coordinate at the visible edge; zw: luma clamp
    float4 chroma_max;  // xy: chroma clamp
};
Texture2D plane0 : register(t0);
Texture2D plane1 : register(t1);
Texture2D plane2 : register(t2);
SamplerState bilinear : register(s0);

struct Varyings {
    float4 position : SV_Position;
    float2 uv : TEXCOORD0;
};

Varyings vs_main(uint id : SV_VertexID) {
    float2 corner = float2(id & 1, id >> 1) * 2.0;
    Varyings v;
    v.position = float4(corner.x * 2.0 - 1.0, 1.0 - corner.y * 2.0, 0.0, 1.0);
    v.uv = corner * uv_window.xy;
    return v;
}

float4 ps_main(Varyings v) : SV_Target {
    float y = plane0.Sample(bilinear, min(v.uv, uv_window.zw)).r;
    float2 cuv = min(v.uv, chroma_max.xy);
    float2 packed = plane1.Sample(bilinear, cuv).rg;
    float2 planar = float2(packed.x, plane2.Sample(bilinear, cuv).r);
    float2 c = planar + (packed - planar) * offset.w;
    float3 yuv = float3(y, c.x, c.y) - offset.xyz;
    float3 rgb = float3(dot(row_r.xyz, yuv), dot(row_g.xyz, yuv), dot(row_b.xyz, yuv));
    return float4(saturate(rgb), 1.0);
}
)";

struct alignas(16) Constants {
    float row_r[4];
    float row_g[4];
    float row_b[4];
    float offset[4];
    float uv_window[4];
    float chroma_max[4];
};

ComPtr<ID3DBlob> compile(const char* entry, const char* profile) {
    ComPtr<ID3DBlob> code;
    ComPtr<ID3DBlob> errors;
    const HRESULT hr = D3DCompile(k_shader_source.data(), k_shader_source.size(), "yuv_to_rgb", nullptr, nullptr,
                                  entry, profile, D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, &code, &errors);
    if (FAILED(hr)) {
        const std::string_view text =
            errors ? std::string_view(static_cast<const char*>(errors->GetBufferPointer()), errors->GetBufferSize())
                   : std::string_view("no compiler output");
        spdlog::error("D3d11Renderer: {} does not compile (0x{:08x}): {}", entry, hr_code(hr), text);
        return nullptr;
    }
    return code;
}

}  // namespace

bool D3d11ShaderPath::create(ID3D11Device* device) {
    destroy();
    const ComPtr<ID3DBlob> vs = compile("vs_main", "vs_4_0");
    const ComPtr<ID3DBlob> ps = vs ? compile("ps_main", "ps_4_0") : nullptr;
    if (!ps) return false;
    HRESULT hr = device->CreateVertexShader(vs->GetBufferPointer(), vs->GetBufferSize(), nullptr, &vertex_shader_);
    if (SUCCEEDED(hr)) {
        hr = device->CreatePixelShader(ps->GetBufferPointer(), ps->GetBufferSize(), nullptr, &pixel_shader_);
    }
    if (SUCCEEDED(hr)) {
        const D3D11_BUFFER_DESC desc{sizeof(Constants), D3D11_USAGE_DEFAULT, D3D11_BIND_CONSTANT_BUFFER, 0, 0, 0};
        hr = device->CreateBuffer(&desc, nullptr, &constants_);
    }
    if (SUCCEEDED(hr)) {
        D3D11_SAMPLER_DESC desc{};
        desc.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
        desc.AddressU = desc.AddressV = desc.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
        desc.ComparisonFunc = D3D11_COMPARISON_NEVER;
        desc.MaxLOD = D3D11_FLOAT32_MAX;
        hr = device->CreateSamplerState(&desc, &sampler_);
    }
    if (SUCCEEDED(hr)) {
        // The overlay leaves scissoring and blending on; the picture needs neither.
        D3D11_RASTERIZER_DESC desc{};
        desc.FillMode = D3D11_FILL_SOLID;
        desc.CullMode = D3D11_CULL_NONE;
        desc.DepthClipEnable = TRUE;
        hr = device->CreateRasterizerState(&desc, &rasterizer_);
    }
    if (SUCCEEDED(hr)) {
        D3D11_BLEND_DESC desc{};
        desc.RenderTarget[0].RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
        hr = device->CreateBlendState(&desc, &blend_);
    }
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: shader conversion state not created (0x{:08x})", hr_code(hr));
        destroy();
        return false;
    }
    return true;
}

void D3d11ShaderPath::destroy() {
    for (auto& view : views_) view.Reset();
    for (auto& plane : planes_) plane.Reset();
    vertex_shader_.Reset();
    pixel_shader_.Reset();
    constants_.Reset();
    sampler_.Reset();
    rasterizer_.Reset();
    blend_.Reset();
    width_ = height_ = 0;
}

bool D3d11ShaderPath::allocate(ID3D11Device* device, const Picture& picture) {
    for (auto& view : views_) view.Reset();
    for (auto& plane : planes_) plane.Reset();
    width_ = height_ = 0;
    for (int i = 0; i < plane_count(picture.layout); ++i) {
        const PlaneShape s = plane_shape(picture, i);
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = s.width;
        desc.Height = s.height;
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = s.bytes_per_texel == 2 ? DXGI_FORMAT_R8G8_UNORM : DXGI_FORMAT_R8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
        HRESULT hr = device->CreateTexture2D(&desc, nullptr, &planes_[i]);
        if (SUCCEEDED(hr)) hr = device->CreateShaderResourceView(planes_[i].Get(), nullptr, &views_[i]);
        if (FAILED(hr)) {
            spdlog::error("D3d11Renderer: plane texture {} ({}x{}) not created (0x{:08x})", i, s.width, s.height,
                          hr_code(hr));
            for (auto& view : views_) view.Reset();
            for (auto& plane : planes_) plane.Reset();
            return false;
        }
    }
    width_ = picture.width;
    height_ = picture.height;
    layout_ = picture.layout;
    return true;
}

D3d11ShaderPath::Upload D3d11ShaderPath::upload(ID3D11Device* device, ID3D11DeviceContext* context,
                                                const Picture& picture) {
    if (!ready() || !uploadable(picture)) return Upload::rejected;
    Upload result = Upload::updated;
    if (empty() || picture.width != width_ || picture.height != height_ || picture.layout != layout_) {
        if (!allocate(device, picture)) return Upload::rejected;
        result = Upload::recreated;
    }
    // Rows are read at the picture's own stride: no repacking on the CPU.
    for (int i = 0; i < plane_count(picture.layout); ++i) {
        context->UpdateSubresource(planes_[i].Get(), 0, nullptr, picture.planes[i],
                                   static_cast<UINT>(picture.strides[i]), 0);
    }
    return result;
}

void D3d11ShaderPath::draw(ID3D11DeviceContext* context, ID3D11RenderTargetView* target,
                           const D3D11_VIEWPORT& viewport, const YuvToRgb& conversion, uint32_t visible_width,
                           uint32_t visible_height) {
    if (!ready() || empty()) return;
    const SampleWindow window = sample_window(width_, height_, visible_width, visible_height);
    // The shared matrix is column-major; HLSL takes its rows.
    const auto& m = conversion.matrix;
    Constants c{};
    const float rows[3][3] = {{m[0], m[3], m[6]}, {m[1], m[4], m[7]}, {m[2], m[5], m[8]}};
    std::memcpy(c.row_r, rows[0], sizeof(rows[0]));
    std::memcpy(c.row_g, rows[1], sizeof(rows[1]));
    std::memcpy(c.row_b, rows[2], sizeof(rows[2]));
    std::memcpy(c.offset, conversion.offset.data(), sizeof(float) * 3);
    c.offset[3] = layout_ == PixelLayout::nv12 ? 1.0f : 0.0f;
    c.uv_window[0] = window.uv_scale[0];
    c.uv_window[1] = window.uv_scale[1];
    c.uv_window[2] = window.luma_max[0];
    c.uv_window[3] = window.luma_max[1];
    c.chroma_max[0] = window.chroma_max[0];
    c.chroma_max[1] = window.chroma_max[1];
    context->UpdateSubresource(constants_.Get(), 0, nullptr, &c, 0, 0);

    ID3D11ShaderResourceView* views[3] = {views_[0].Get(), views_[1].Get(), views_[2].Get()};
    ID3D11Buffer* constants = constants_.Get();
    ID3D11SamplerState* sampler = sampler_.Get();
    context->OMSetRenderTargets(1, &target, nullptr);
    context->OMSetBlendState(blend_.Get(), nullptr, 0xffffffff);
    context->RSSetState(rasterizer_.Get());
    context->RSSetViewports(1, &viewport);
    context->IASetInputLayout(nullptr);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    context->VSSetShader(vertex_shader_.Get(), nullptr, 0);
    context->VSSetConstantBuffers(0, 1, &constants);
    context->PSSetShader(pixel_shader_.Get(), nullptr, 0);
    context->PSSetConstantBuffers(0, 1, &constants);
    context->PSSetShaderResources(0, 3, views);
    context->PSSetSamplers(0, 1, &sampler);
    context->Draw(3, 0);
    // Unbound again so the overlay's drawing finds no stray planes.
    ID3D11ShaderResourceView* none[3] = {};
    context->PSSetShaderResources(0, 3, none);
}

}  // namespace nb
