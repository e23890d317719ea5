// ID3D11VideoProcessor conversion of NV12 pictures held in CPU memory.
#include "video/d3d11_video_processor.h"

#include <spdlog/spdlog.h>

#include <cstring>

#include "video/hresult.h"
#include "video/yuv_conversion.h"

namespace nb {

bool D3d11VideoProcessor::open(ID3D11Device* device, ID3D11DeviceContext* context) {
    close();
    UINT support = 0;
    if (FAILED(device->CheckFormatSupport(DXGI_FORMAT_NV12, &support)) ||
        !(support & D3D11_FORMAT_SUPPORT_TEXTURE2D)) {
        spdlog::info("D3d11Renderer: the device has no NV12 textures");
        return false;
    }
    if (FAILED(device->QueryInterface(IID_PPV_ARGS(&video_device_))) ||
        FAILED(context->QueryInterface(IID_PPV_ARGS(&video_context_)))) {
        spdlog::info("D3d11Renderer: the device has no video interfaces");
        close();
        return false;
    }
    device_ = device;
    context_ = context;
    return true;
}

void D3d11VideoProcessor::close() {
    input_view_.Reset();
    input_.Reset();
    staging_.Reset();
    output_view_.Reset();
    processor_.Reset();
    enumerator_.Reset();
    video_context_.Reset();
    video_device_.Reset();
    context_.Reset();
    device_.Reset();
    input_width_ = input_height_ = 0;
    texture_width_ = texture_height_ = 0;
}

bool D3d11VideoProcessor::prepare(uint32_t input_width, uint32_t input_height, uint32_t output_width,
                                  uint32_t output_height) {
    // Views made from the old enumerator cannot be used with the new one.
    output_view_.Reset();
    input_view_.Reset();
    processor_.Reset();
    enumerator_.Reset();
    input_width_ = input_height_ = 0;
    if (!video_device_ || input_width == 0 || input_height == 0) return false;
    D3D11_VIDEO_PROCESSOR_CONTENT_DESC content{};
    content.InputFrameFormat = D3D11_VIDEO_FRAME_FORMAT_PROGRESSIVE;
    content.InputWidth = input_width;
    content.InputHeight = input_height;
    content.OutputWidth = output_width;
    content.OutputHeight = output_height;
    content.Usage = D3D11_VIDEO_USAGE_PLAYBACK_NORMAL;
    HRESULT hr = video_device_->CreateVideoProcessorEnumerator(&content, &enumerator_);
    if (SUCCEEDED(hr)) hr = video_device_->CreateVideoProcessor(enumerator_.Get(), 0, &processor_);
    if (FAILED(hr)) {
        spdlog::warn("D3d11Renderer: video processor for {}x{} not created (0x{:08x})", input_width, input_height,
                     hr_code(hr));
        processor_.Reset();
        enumerator_.Reset();
        return false;
    }
    input_width_ = input_width;
    input_height_ = input_height;
    spdlog::debug("D3d11Renderer: video processor created for NV12→BGRA ({}x{})", input_width, input_height);
    return true;
}

bool D3d11VideoProcessor::ensure_upload_textures(uint32_t width, uint32_t height) {
    // NV12 needs even sizes; the extra row or column is cut off by the
    // source rectangle.
    const uint32_t w = (width + 1) & ~1u;
    const uint32_t h = (height + 1) & ~1u;
    if (input_ && input_view_ && w == texture_width_ && h == texture_height_) return true;
    input_view_.Reset();
    input_.Reset();
    staging_.Reset();
    texture_width_ = texture_height_ = 0;
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = w;
    desc.Height = h;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_NV12;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    HRESULT hr = device_->CreateTexture2D(&desc, nullptr, &staging_);
    if (SUCCEEDED(hr)) {
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.CPUAccessFlags = 0;
        hr = device_->CreateTexture2D(&desc, nullptr, &input_);
    }
    if (SUCCEEDED(hr)) {
        D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC view{};
        view.FourCC = 0;
        view.ViewDimension = D3D11_VPIV_DIMENSION_TEXTURE2D;
        hr = video_device_->CreateVideoProcessorInputView(input_.Get(), enumerator_.Get(), &view, &input_view_);
    }
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: NV12 upload textures ({}x{}) not created (0x{:08x})", w, h, hr_code(hr));
        input_view_.Reset();
        input_.Reset();
        staging_.Reset();
        return false;
    }
    texture_width_ = w;
    texture_height_ = h;
    return true;
}

bool D3d11VideoProcessor::write_picture(const Picture& picture) {
    D3D11_MAPPED_SUBRESOURCE mapped{};
    const HRESULT hr = context_->Map(staging_.Get(), 0, D3D11_MAP_WRITE, 0, &mapped);
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: NV12 staging texture not mapped (0x{:08x})", hr_code(hr));
        return false;
    }
    // A mapped NV12 texture holds its luma rows, then the chroma rows at the
    // same pitch.
    auto* luma = static_cast<uint8_t*>(mapped.pData);
    uint8_t* chroma = luma + size_t{mapped.RowPitch} * texture_height_;
    for (uint32_t y = 0; y < picture.height; ++y) {
        std::memcpy(luma + size_t{mapped.RowPitch} * y, picture.planes[0] + size_t(picture.strides[0]) * y,
                    picture.width);
    }
    const PlaneShape c = plane_shape(picture, 1);
    for (uint32_t y = 0; y < c.height; ++y) {
        std::memcpy(chroma + size_t{mapped.RowPitch} * y, picture.planes[1] + size_t(picture.strides[1]) * y,
                    size_t{c.width} * 2);
    }
    context_->Unmap(staging_.Get(), 0);
    context_->CopyResource(input_.Get(), staging_.Get());
    return true;
}

bool D3d11VideoProcessor::convert(const Picture& picture, uint32_t visible_width, uint32_t visible_height,
                                  ID3D11Texture2D* target, const RECT& dest) {
    if (!processor_ || !target || picture.layout != PixelLayout::nv12 || !uploadable(picture)) return false;
    if (!ensure_upload_textures(picture.width, picture.height) || !write_picture(picture)) return false;
    if (!output_view_) {
        D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC view{};
        view.ViewDimension = D3D11_VPOV_DIMENSION_TEXTURE2D;
        const HRESULT hr = video_device_->CreateVideoProcessorOutputView(target, enumerator_.Get(), &view,
                                                                         &output_view_);
        if (FAILED(hr)) {
            spdlog::warn("D3d11Renderer: video processor output view not created (0x{:08x})", hr_code(hr));
            return false;
        }
    }
    // The stream's own matrix and range, as the shader path applies them.
    D3D11_VIDEO_PROCESSOR_COLOR_SPACE space{};
    space.YCbCr_Matrix = effective_matrix(picture.matrix, visible_height) == ColorMatrix::bt709 ? 1 : 0;
    space.Nominal_Range = picture.full_range ? D3D11_VIDEO_PROCESSOR_NOMINAL_RANGE_0_255
                                             : D3D11_VIDEO_PROCESSOR_NOMINAL_RANGE_16_235;
    video_context_->VideoProcessorSetStreamColorSpace(processor_.Get(), 0, &space);
    const RECT source{0, 0, static_cast<LONG>(visible_width), static_cast<LONG>(visible_height)};
    video_context_->VideoProcessorSetStreamSourceRect(processor_.Get(), 0, TRUE, &source);
    video_context_->VideoProcessorSetStreamDestRect(processor_.Get(), 0, TRUE, &dest);
    D3D11_VIDEO_PROCESSOR_STREAM stream{};
    stream.Enable = TRUE;
    stream.pInputSurface = input_view_.Get();
    const HRESULT hr = video_context_->VideoProcessorBlt(processor_.Get(), output_view_.Get(), 0, 1, &stream);
    if (FAILED(hr)) {
        spdlog::warn("D3d11Renderer: VideoProcessorBlt failed (0x{:08x})", hr_code(hr));
        return false;
    }
    return true;
}

}  // namespace nb
