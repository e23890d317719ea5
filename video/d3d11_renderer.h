// Presentation with Direct3D 11 on the streaming window's HWND: a flip-model
// swap chain without vertical sync, NV12 pictures converted and scaled by
// the GPU's video processor where the device has one, every other picture
// (and every picture on devices without one) by a pixel shader. The last
// converted picture is kept so the overlay can be redrawn over it.
#pragma once

#include <SDL.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "video/d3d11_shader_path.h"
#include "video/d3d11_video_processor.h"
#include "video/renderer.h"

namespace nb {

class D3d11Renderer final : public IRenderer {
public:
    // How NV12 pictures are converted. Tests pin the shader path to compare
    // both on machines that have a video processor.
    enum class Nv12Path { video_processor_when_available, shader };

    D3d11Renderer() = default;
    explicit D3d11Renderer(Nv12Path nv12_path) : nv12_path_(nv12_path) {}
    ~D3d11Renderer() override;
    D3d11Renderer(const D3d11Renderer&) = delete;
    D3d11Renderer& operator=(const D3d11Renderer&) = delete;

    bool initialize(SDL_Window* window, uint32_t width, uint32_t height) override;
    float render_frame(const Picture* picture, uint32_t width, uint32_t height) override;
    void clear() override;
    bool restore_snapshot() override;
    void bind_render_target() override;
    void present() override;
    void resize(uint32_t width, uint32_t height) override;
    void shutdown() override;
    std::string_view name() const override { return "D3D11"; }
    uint64_t frames_presented() const override { return frames_presented_.load(); }

    // The overlay's Direct3D 11 back end draws with these; no reference is
    // added. Null before initialize and after shutdown.
    ID3D11Device* device() const { return device_.Get(); }
    ID3D11DeviceContext* context() const { return context_.Get(); }
    // The window presented to; null before initialize and after shutdown.
    SDL_Window* window() const { return window_; }
    // Whether NV12 pictures go through the video processor.
    bool uses_video_processor() const;

    // The back buffer as RGB rows from the top, for tests and diagnostics;
    // call it inside a drawing sequence, before present.
    std::vector<uint8_t> read_back_buffer();

private:
    bool create_device_and_swap_chain(SDL_Window* window);
    bool create_render_target();
    void release_render_target();
    bool draw_with_video_processor(const Picture& picture, uint32_t visible_width, uint32_t visible_height);
    bool draw_with_shader(const Picture& picture, uint32_t visible_width, uint32_t visible_height);
    void save_snapshot();
    D3D11_VIEWPORT picture_viewport(uint32_t visible_width, uint32_t visible_height) const;

    template <class T>
    using Com = Microsoft::WRL::ComPtr<T>;

    const Nv12Path nv12_path_ = Nv12Path::video_processor_when_available;
    // Serialises every operation but name and frames_presented, and guards
    // everything below.
    mutable std::mutex mutex_;
    SDL_Window* window_ = nullptr;
    Com<ID3D11Device> device_;
    Com<ID3D11DeviceContext> context_;
    Com<IDXGISwapChain1> swap_chain_;
    Com<ID3D11RenderTargetView> render_target_view_;
    Com<ID3D11Texture2D> back_buffer_;
    Com<ID3D11Texture2D> snapshot_;
    D3d11VideoProcessor video_processor_;
    D3d11ShaderPath shader_path_;
    bool video_processor_available_ = false;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    bool initialized_ = false;
    bool tearing_supported_ = false;
    bool has_snapshot_ = false;
    std::atomic<uint64_t> frames_presented_{0};
    std::atomic<uint64_t> reject_log_count_{0};
};

}  // namespace nb
