// Direct3D 11 presentation of decoded pictures on the streaming window.
#include "video/d3d11_renderer.h"

#include <SDL_syswm.h>
#include <d3d10.h>
#include <dxgi1_5.h>
#include <spdlog/spdlog.h>

#include <algorithm>

#include "common/clock.h"
#include "common/logging.h"
#include "video/d3d11_read_back.h"
#include "video/hresult.h"
#include "video/yuv_conversion.h"

namespace nb {

namespace {

constexpr float k_black[4] = {0.0f, 0.0f, 0.0f, 1.0f};

HWND window_handle(SDL_Window* window) {
    if (!window) {
        SDL_SetError("no window");
        return nullptr;
    }
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_WINDOWS) return nullptr;
    return info.info.win.window;
}

// The decoder's thread and the event loop's both reach the immediate
// context; without this the runtime assumes one thread.
void protect_from_threads(ID3D11Device* device) {
    Microsoft::WRL::ComPtr<ID3D10Multithread> multithread;
    if (SUCCEEDED(device->QueryInterface(IID_PPV_ARGS(&multithread)))) multithread->SetMultithreadProtected(TRUE);
}

bool tearing_allowed(IDXGIFactory2* factory) {
    Microsoft::WRL::ComPtr<IDXGIFactory5> factory5;
    if (FAILED(factory->QueryInterface(IID_PPV_ARGS(&factory5)))) return false;
    BOOL allowed = FALSE;
    return SUCCEEDED(factory5->CheckFeatureSupport(DXGI_FEATURE_PRESENT_ALLOW_TEARING, &allowed, sizeof(allowed))) &&
           allowed;
}

}  // namespace

D3d11Renderer::~D3d11Renderer() { shutdown(); }

bool D3d11Renderer::uses_video_processor() const {
    std::lock_guard lock(mutex_);
    return video_processor_available_ && nv12_path_ == Nv12Path::video_processor_when_available;
}

bool D3d11Renderer::initialize(SDL_Window* window, uint32_t width, uint32_t height) {
    if (initialized_) shutdown();
    std::lock_guard lock(mutex_);
    width_ = width;
    height_ = height;
    window_ = window;
    if (!create_device_and_swap_chain(window)) {
        spdlog::error("D3d11Renderer: failed to create device/swapchain");
        swap_chain_.Reset();
        context_.Reset();
        device_.Reset();
        return false;
    }
    if (!create_render_target()) {
        spdlog::error("D3d11Renderer: failed to create render target");
        return false;
    }
    if (!shader_path_.create(device_.Get())) {
        spdlog::error("D3d11Renderer: failed to create the shader conversion");
        return false;
    }
    video_processor_available_ = video_processor_.open(device_.Get(), context_.Get()) &&
                                 video_processor_.prepare(width_, height_, width_, height_);
    if (!video_processor_available_) {
        video_processor_.close();
        spdlog::warn("D3d11Renderer: video processor unavailable, will use shader conversion");
    }
    // Black until the first picture arrives.
    context_->ClearRenderTargetView(render_target_view_.Get(), k_black);
    has_snapshot_ = false;
    initialized_ = true;
    spdlog::info("D3d11Renderer: initialized {}x{} (tearing={})", width_, height_, tearing_supported_);
    return true;
}

bool D3d11Renderer::create_device_and_swap_chain(SDL_Window* window) {
    const HWND hwnd = window_handle(window);
    if (!hwnd) {
        spdlog::error("D3d11Renderer: SDL_GetWindowWMInfo failed: {}", SDL_GetError());
        return false;
    }
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
    D3D_FEATURE_LEVEL level{};
    HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_VIDEO_SUPPORT,
                                   levels, 2, D3D11_SDK_VERSION, &device_, &level, &context_);
    if (FAILED(hr)) {
        // Drivers without video acceleration refuse the flag; the shader
        // path needs none of it.
        spdlog::info("D3d11Renderer: no device with video support (0x{:08x}), trying without", hr_code(hr));
        hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 2, D3D11_SDK_VERSION, &device_,
                               &level, &context_);
    }
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: D3D11CreateDevice failed (0x{:08x})", hr_code(hr));
        return false;
    }
    protect_from_threads(device_.Get());

    Com<IDXGIDevice> dxgi_device;
    Com<IDXGIAdapter> adapter;
    Com<IDXGIFactory2> factory;
    hr = device_.As(&dxgi_device);
    if (SUCCEEDED(hr)) hr = dxgi_device->GetAdapter(&adapter);
    if (SUCCEEDED(hr)) hr = adapter->GetParent(IID_PPV_ARGS(&factory));
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: CreateSwapChainForHwnd failed (0x{:08x})", hr_code(hr));
        return false;
    }
    tearing_supported_ = tearing_allowed(factory.Get());
    DXGI_SWAP_CHAIN_DESC1 desc{};
    desc.Width = width_;
    desc.Height = height_;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 2;
    desc.Scaling = DXGI_SCALING_STRETCH;
    desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
    desc.AlphaMode = DXGI_ALPHA_MODE_UNSPECIFIED;
    desc.Flags = tearing_supported_ ? DXGI_SWAP_CHAIN_FLAG_ALLOW_TEARING : 0;
    hr = factory->CreateSwapChainForHwnd(device_.Get(), hwnd, &desc, nullptr, nullptr, &swap_chain_);
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: CreateSwapChainForHwnd failed (0x{:08x})", hr_code(hr));
        return false;
    }
    // The event loop toggles full screen itself.
    factory->MakeWindowAssociation(hwnd, DXGI_MWA_NO_ALT_ENTER);
    spdlog::info("D3d11Renderer: D3D11 device created (level 0x{:04x})", static_cast<uint32_t>(level));
    return true;
}

bool D3d11Renderer::create_render_target() {
    release_render_target();
    HRESULT hr = swap_chain_->GetBuffer(0, IID_PPV_ARGS(&back_buffer_));
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: GetBuffer failed (0x{:08x})", hr_code(hr));
        return false;
    }
    hr = device_->CreateRenderTargetView(back_buffer_.Get(), nullptr, &render_target_view_);
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: CreateRenderTargetView failed (0x{:08x})", hr_code(hr));
        back_buffer_.Reset();
        return false;
    }
    return true;
}

void D3d11Renderer::release_render_target() {
    video_processor_.drop_output_view();
    render_target_view_.Reset();
    back_buffer_.Reset();
}

D3D11_VIEWPORT D3d11Renderer::picture_viewport(uint32_t visible_width, uint32_t visible_height) const {
    const ViewRect r = letterbox(visible_width, visible_height, width_, height_);
    // letterbox() counts rows from the bottom edge, Direct3D from the top.
    const int32_t top = static_cast<int32_t>(height_) - r.y - r.height;
    return D3D11_VIEWPORT{static_cast<float>(r.x), static_cast<float>(top), static_cast<float>(r.width),
                          static_cast<float>(r.height), 0.0f, 1.0f};
}

float D3d11Renderer::render_frame(const Picture* picture, uint32_t width, uint32_t height) {
    std::lock_guard lock(mutex_);
    if (!initialized_ || !picture || !render_target_view_) return 0.0f;
    if (!uploadable(*picture)) {
        if (should_log_throttled(reject_log_count_, 3, 100)) {
            spdlog::warn("D3d11Renderer: picture {}x{} has a layout the textures cannot take, skipped",
                         picture->width, picture->height);
        }
        return 0.0f;
    }
    const int64_t start_us = now_us();
    const uint32_t visible_width = visible_extent(picture->width, width);
    const uint32_t visible_height = visible_extent(picture->height, height);
    // Black bars where the picture's shape differs from the window's.
    context_->ClearRenderTargetView(render_target_view_.Get(), k_black);
    const bool by_processor = picture->layout == PixelLayout::nv12 && video_processor_available_ &&
                              nv12_path_ == Nv12Path::video_processor_when_available &&
                              draw_with_video_processor(*picture, visible_width, visible_height);
    if (!by_processor && !draw_with_shader(*picture, visible_width, visible_height)) return 0.0f;
    save_snapshot();
    // A draw always costs something; 0 is kept for "nothing drawn".
    return std::max(static_cast<float>(now_us() - start_us), 1.0f);
}

bool D3d11Renderer::draw_with_video_processor(const Picture& picture, uint32_t visible_width,
                                              uint32_t visible_height) {
    if (picture.width != video_processor_.input_width() || picture.height != video_processor_.input_height()) {
        spdlog::info("D3d11Renderer: input texture {}x{} != VP {}x{}, recreating", picture.width, picture.height,
                     video_processor_.input_width(), video_processor_.input_height());
        if (!video_processor_.prepare(picture.width, picture.height, width_, height_)) {
            // The shader path converts everything from here on.
            video_processor_available_ = false;
            video_processor_.close();
            spdlog::warn("D3d11Renderer: video processor unavailable, will use shader conversion");
            return false;
        }
    }
    const D3D11_VIEWPORT v = picture_viewport(visible_width, visible_height);
    const RECT dest{static_cast<LONG>(v.TopLeftX), static_cast<LONG>(v.TopLeftY),
                    static_cast<LONG>(v.TopLeftX + v.Width), static_cast<LONG>(v.TopLeftY + v.Height)};
    return video_processor_.convert(picture, visible_width, visible_height, back_buffer_.Get(), dest);
}

bool D3d11Renderer::draw_with_shader(const Picture& picture, uint32_t visible_width, uint32_t visible_height) {
    const bool had_textures = !shader_path_.empty();
    const uint32_t old_w = shader_path_.width();
    const uint32_t old_h = shader_path_.height();
    const PixelLayout old_layout = shader_path_.layout();
    const D3d11ShaderPath::Upload upload = shader_path_.upload(device_.Get(), context_.Get(), picture);
    if (upload == D3d11ShaderPath::Upload::rejected) return false;
    if (upload == D3d11ShaderPath::Upload::recreated) {
        if (had_textures) {
            spdlog::info("D3d11Renderer: input picture {}x{} {} != textures {}x{} {}, recreating", picture.width,
                         picture.height, layout_name(picture.layout), old_w, old_h, layout_name(old_layout));
        } else {
            spdlog::debug("D3d11Renderer: textures created for {}x{} {}", picture.width, picture.height,
                          layout_name(picture.layout));
        }
    }
    const YuvToRgb conversion = yuv_to_rgb(effective_matrix(picture.matrix, visible_height), picture.full_range);
    shader_path_.draw(context_.Get(), render_target_view_.Get(), picture_viewport(visible_width, visible_height),
                      conversion, visible_width, visible_height);
    return true;
}

// Flip-model back buffers lose their content at every present; the copy
// lets the overlay be redrawn over the last picture without a new one.
void D3d11Renderer::save_snapshot() {
    if (!back_buffer_) return;
    if (!snapshot_) {
        D3D11_TEXTURE2D_DESC desc{};
        back_buffer_->GetDesc(&desc);
        desc.BindFlags = 0;
        desc.MiscFlags = 0;
        if (FAILED(device_->CreateTexture2D(&desc, nullptr, &snapshot_))) return;
        spdlog::debug("D3d11Renderer: frame snapshot texture created");
    }
    context_->CopyResource(snapshot_.Get(), back_buffer_.Get());
    has_snapshot_ = true;
}

void D3d11Renderer::clear() {
    std::lock_guard lock(mutex_);
    if (!initialized_ || !render_target_view_) return;
    context_->ClearRenderTargetView(render_target_view_.Get(), k_black);
}

bool D3d11Renderer::restore_snapshot() {
    std::lock_guard lock(mutex_);
    if (!initialized_ || !has_snapshot_ || !snapshot_ || !back_buffer_) return false;
    context_->CopyResource(back_buffer_.Get(), snapshot_.Get());
    return true;
}

void D3d11Renderer::bind_render_target() {
    std::lock_guard lock(mutex_);
    if (!initialized_ || !render_target_view_) return;
    ID3D11RenderTargetView* target = render_target_view_.Get();
    context_->OMSetRenderTargets(1, &target, nullptr);
    const D3D11_VIEWPORT viewport{0.0f, 0.0f, static_cast<float>(width_), static_cast<float>(height_), 0.0f, 1.0f};
    context_->RSSetViewports(1, &viewport);
}

void D3d11Renderer::present() {
    std::lock_guard lock(mutex_);
    if (!initialized_ || !swap_chain_) return;
    const HRESULT hr = swap_chain_->Present(0, tearing_supported_ ? DXGI_PRESENT_ALLOW_TEARING : 0);
    if (hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET) {
        spdlog::error("D3d11Renderer: device lost during Present (0x{:08x})", hr_code(hr));
        initialized_ = false;
        return;
    }
    frames_presented_.fetch_add(1, std::memory_order_relaxed);
}

void D3d11Renderer::resize(uint32_t width, uint32_t height) {
    std::lock_guard lock(mutex_);
    if (!initialized_ || (width == width_ && height == height_)) return;
    spdlog::info("D3d11Renderer: resizing {}x{} → {}x{}", width_, height_, width, height);
    release_render_target();
    snapshot_.Reset();
    has_snapshot_ = false;
    // Every reference on the old buffers, the context's binding included,
    // must be gone before the swap chain can replace them.
    context_->OMSetRenderTargets(0, nullptr, nullptr);
    context_->Flush();
    const HRESULT hr = swap_chain_->ResizeBuffers(0, width, height, DXGI_FORMAT_UNKNOWN,
                                                  tearing_supported_ ? DXGI_SWAP_CHAIN_FLAG_ALLOW_TEARING : 0);
    if (FAILED(hr)) {
        spdlog::error("D3d11Renderer: ResizeBuffers failed (0x{:08x})", hr_code(hr));
        return;
    }
    width_ = width;
    height_ = height;
    create_render_target();
    // The next NV12 picture rebuilds the processor for its own size.
    if (video_processor_available_ && !video_processor_.prepare(width, height, width, height)) {
        video_processor_available_ = false;
        video_processor_.close();
        spdlog::warn("D3d11Renderer: video processor unavailable, will use shader conversion");
    }
}

std::vector<uint8_t> D3d11Renderer::read_back_buffer() {
    std::lock_guard lock(mutex_);
    if (!initialized_) return {};
    return read_back_rgb(device_.Get(), context_.Get(), back_buffer_.Get());
}

void D3d11Renderer::shutdown() {
    std::lock_guard lock(mutex_);
    if (!initialized_ && !device_) return;
    const bool was_initialized = initialized_;
    window_ = nullptr;
    video_processor_.close();
    shader_path_.destroy();
    release_render_target();
    snapshot_.Reset();
    has_snapshot_ = false;
    if (context_) context_->ClearState();
    swap_chain_.Reset();
    context_.Reset();
    device_.Reset();
    video_processor_available_ = false;
    initialized_ = false;
    if (was_initialized) spdlog::info("D3d11Renderer: shutdown ({} frames presented)", frames_presented_.load());
}

}  // namespace nb
