#include "video/d3d11_read_back.h"

#include <spdlog/spdlog.h>
#include <wrl/client.h>

#include "video/hresult.h"

namespace nb {

std::vector<uint8_t> read_back_rgb(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11Texture2D* texture) {
    std::vector<uint8_t> rows;
    if (!device || !context || !texture) return rows;
    D3D11_TEXTURE2D_DESC desc{};
    texture->GetDesc(&desc);
    if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM) return rows;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.MiscFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> staging;
    HRESULT hr = device->CreateTexture2D(&desc, nullptr, &staging);
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: read-back texture not created (0x{:08x})", hr_code(hr));
        return rows;
    }
    context->CopyResource(staging.Get(), texture);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    hr = context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: read-back texture not mapped (0x{:08x})", hr_code(hr));
        return rows;
    }
    rows.resize(size_t{desc.Width} * desc.Height * 3);
    for (uint32_t y = 0; y < desc.Height; ++y) {
        const auto* src = static_cast<const uint8_t*>(mapped.pData) + size_t{mapped.RowPitch} * y;
        uint8_t* dst = rows.data() + size_t{desc.Width} * 3 * y;
        for (uint32_t x = 0; x < desc.Width; ++x) {
            dst[3 * x] = src[4 * x + 2];
            dst[3 * x + 1] = src[4 * x + 1];
            dst[3 * x + 2] = src[4 * x];
        }
    }
    context->Unmap(staging.Get(), 0);
    return rows;
}

}  // namespace nb
