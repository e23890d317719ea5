// The Direct3D 11 side of ImGuiSurface: a device and a flip-model swap chain
// on the SDL window's HWND, ImGui's Win32 and DX11 back ends. SDL owns the
// window procedure, so ImGui sees the window's input through SDL's message
// hook.
#include "ui/imgui_surface.h"

#include <SDL_syswm.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>
#include <spdlog/spdlog.h>
#include <windows.h>
#include <windowsx.h>
#include <wrl/client.h>

#include "ui/mouse_button_latch.h"


// Declared by the back end's header only in a comment, so that including it
// does not drag <windows.h> into every user.
extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

namespace nb::ui {

using Microsoft::WRL::ComPtr;

// What the message hook feeds: the window it listens to and its buttons.
// Written by the hook and read at the frame start, both on the thread that
// runs the window's loop.
struct ImGuiSurfaceInput {
    HWND hwnd = nullptr;
    MouseButtonLatch buttons;
};

namespace {

// Which button a Win32 button message is about, and whether it went down;
// -1 for the other messages.
int mouse_button_of(unsigned int message, Uint64 wparam, bool& pressed) {
    pressed = false;
    switch (message) {
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: pressed = true; return 0;
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: pressed = true; return 1;
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: pressed = true; return 2;
        case WM_XBUTTONDOWN: case WM_XBUTTONDBLCLK:
            pressed = true;
            return GET_XBUTTON_WPARAM(wparam) == XBUTTON1 ? 3 : 4;
        case WM_LBUTTONUP: return 0;
        case WM_RBUTTONUP: return 1;
        case WM_MBUTTONUP: return 2;
        case WM_XBUTTONUP: return GET_XBUTTON_WPARAM(wparam) == XBUTTON1 ? 3 : 4;
        default: return -1;
    }
}

// SDL's hook sees every message its loop takes from the queue (the input
// ones among them), before it is translated and dispatched. ImGui's handler
// keeps the pointer and the capture; the buttons go through the latch.
void SDLCALL forward_to_imgui(void* userdata, void* hwnd, unsigned int message, Uint64 wparam, Sint64 lparam) {
    auto* input = static_cast<ImGuiSurfaceInput*>(userdata);
    if (hwnd != input->hwnd || !ImGui::GetCurrentContext()) return;
    ImGui_ImplWin32_WndProcHandler(static_cast<HWND>(hwnd), message, static_cast<WPARAM>(wparam),
                                   static_cast<LPARAM>(lparam));
    bool pressed = false;
    const int button = mouse_button_of(message, wparam, pressed);
    if (button < 0) return;
    // Button messages carry the client position they happened at.
    const auto x = static_cast<float>(GET_X_LPARAM(lparam));
    const auto y = static_cast<float>(GET_Y_LPARAM(lparam));
    if (pressed) {
        input->buttons.press(button, x, y);
    } else {
        input->buttons.release(button, x, y);
    }
}

HWND window_handle(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info)) return nullptr;
    return info.info.win.window;
}

}  // namespace

struct ImGuiSurface::Backend {
    HWND hwnd = nullptr;
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    ComPtr<IDXGISwapChain1> swap_chain;
    ComPtr<ID3D11RenderTargetView> target;
    UINT width = 0;
    UINT height = 0;
    bool vsync = true;
    bool platform = false;
    bool renderer = false;
    ImGuiSurfaceInput input;

    bool create_device(const char* owner) {
        const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_0};
        // A machine without a usable GPU driver still gets a window through
        // the software rasteriser.
        for (const D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
            const HRESULT hr = D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels,
                                                 static_cast<UINT>(std::size(levels)), D3D11_SDK_VERSION, &device,
                                                 nullptr, &context);
            if (SUCCEEDED(hr)) return true;
            spdlog::warn("{}: D3D11CreateDevice ({}) failed: 0x{:08x}", owner,
                         type == D3D_DRIVER_TYPE_HARDWARE ? "hardware" : "WARP", static_cast<uint32_t>(hr));
        }
        return false;
    }

    bool create_swap_chain(SDL_Window* window, const char* owner) {
        ComPtr<IDXGIDevice> dxgi_device;
        ComPtr<IDXGIAdapter> adapter;
        ComPtr<IDXGIFactory2> factory;
        if (FAILED(device.As(&dxgi_device)) || FAILED(dxgi_device->GetAdapter(&adapter)) ||
            FAILED(adapter->GetParent(IID_PPV_ARGS(&factory)))) {
            spdlog::warn("{}: no DXGI factory for the device", owner);
            return false;
        }
        int w = 0;
        int h = 0;
        SDL_GetWindowSize(window, &w, &h);
        DXGI_SWAP_CHAIN_DESC1 desc{};
        desc.Width = static_cast<UINT>(w);
        desc.Height = static_cast<UINT>(h);
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        desc.BufferCount = 2;
        desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
        HRESULT hr = factory->CreateSwapChainForHwnd(device.Get(), hwnd, &desc, nullptr, nullptr, &swap_chain);
        if (FAILED(hr)) {
            // Systems before Windows 10 have no flip-discard.
            desc.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
            desc.BufferCount = 1;
            hr = factory->CreateSwapChainForHwnd(device.Get(), hwnd, &desc, nullptr, nullptr, &swap_chain);
        }
        if (FAILED(hr)) {
            spdlog::warn("{}: CreateSwapChainForHwnd failed: 0x{:08x}", owner, static_cast<uint32_t>(hr));
            return false;
        }
        factory->MakeWindowAssociation(hwnd, DXGI_MWA_NO_ALT_ENTER);
        width = desc.Width;
        height = desc.Height;
        return create_target();
    }

    bool create_target() {
        ComPtr<ID3D11Texture2D> back_buffer;
        if (FAILED(swap_chain->GetBuffer(0, IID_PPV_ARGS(&back_buffer)))) return false;
        return SUCCEEDED(device->CreateRenderTargetView(back_buffer.Get(), nullptr, &target));
    }

    // The swap chain follows the window's client area; checked every frame
    // rather than on the resize event, as the GL surface does.
    void follow_window_size() {
        RECT client{};
        if (!GetClientRect(hwnd, &client)) return;
        const auto w = static_cast<UINT>(client.right - client.left);
        const auto h = static_cast<UINT>(client.bottom - client.top);
        if (w == 0 || h == 0 || (w == width && h == height)) return;
        target.Reset();
        if (SUCCEEDED(swap_chain->ResizeBuffers(0, w, h, DXGI_FORMAT_UNKNOWN, 0))) {
            width = w;
            height = h;
        }
        create_target();
    }
};

uint32_t ImGuiSurface::window_flags() { return 0; }

void ImGuiSurface::prepare_window() {}

ImGuiSurface::ImGuiSurface(SDL_Window* window) : window_(window), backend_(std::make_unique<Backend>()) {}

ImGuiSurface::~ImGuiSurface() { close(); }

bool ImGuiSurface::open(LauncherFonts& fonts, bool vsync, const char* owner) {
    Backend& b = *backend_;
    b.vsync = vsync;
    b.hwnd = window_handle(window_);
    if (!b.hwnd) {
        spdlog::warn("{}: no native window handle: {}", owner, SDL_GetError());
        return false;
    }
    if (!b.create_device(owner) || !b.create_swap_chain(window_, owner)) return false;
    create_launcher_imgui_context(fonts);
    b.platform = ImGui_ImplWin32_Init(b.hwnd);
    b.renderer = b.platform && ImGui_ImplDX11_Init(b.device.Get(), b.context.Get());
    if (!b.renderer) {
        spdlog::warn("{}: ImGui back ends failed to start", owner);
        return false;
    }
    b.input.hwnd = b.hwnd;
    SDL_SetWindowsMessageHook(forward_to_imgui, &b.input);
    ready_ = true;
    return true;
}

void ImGuiSurface::close() {
    Backend& b = *backend_;
    if (ready_) SDL_SetWindowsMessageHook(nullptr, nullptr);
    ready_ = false;
    if (b.renderer) ImGui_ImplDX11_Shutdown();
    if (b.platform) ImGui_ImplWin32_Shutdown();
    b.renderer = b.platform = false;
    if (ImGui::GetCurrentContext()) ImGui::DestroyContext();
    b.target.Reset();
    b.swap_chain.Reset();
    b.context.Reset();
    b.device.Reset();
}

// Input reaches ImGui through the message hook.
void ImGuiSurface::process_event(const SDL_Event&) {}

void ImGuiSurface::begin_frame() {
    backend_->follow_window_size();
    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
    // The back end took the pointer from where it is now; a click the frame
    // plays out counts where it happened.
    ImGuiIO& io = ImGui::GetIO();
    if (const auto at = backend_->input.buttons.start_frame(io.MouseDown)) io.MousePos = ImVec2(at->x, at->y);
    ImGui::NewFrame();
}

void ImGuiSurface::end_frame(const Rgba& background) {
    Backend& b = *backend_;
    ImGui::Render();
    if (b.target) {
        const float colour[4] = {background.r, background.g, background.b, 1.0f};
        ID3D11RenderTargetView* targets[] = {b.target.Get()};
        b.context->OMSetRenderTargets(1, targets, nullptr);
        b.context->ClearRenderTargetView(b.target.Get(), colour);
        ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());
    }
    b.swap_chain->Present(b.vsync ? 1 : 0, 0);
}

}  // namespace nb::ui
