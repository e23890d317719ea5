// The overlay over Direct3D 11: ImGui's Win32 and DX11 back ends on the
// renderer's device. SDL owns the window procedure and the event loop hands
// the overlay SDL events, so the buttons and the wheel come from those; the
// Win32 back end keeps the display size, the clock and the pointer.
#include "ui/overlay_backend_d3d11.h"

#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>
#include <spdlog/spdlog.h>

#include "ui/mouse_button_latch.h"

namespace nb::ui {

namespace {

class D3d11OverlayBackend final : public OverlayBackend {
public:
    D3d11OverlayBackend(HWND window, ID3D11Device* device, ID3D11DeviceContext* context)
        : window_(window), device_(device), context_(context) {}

    bool start() override {
        if (!window_ || !device_ || !context_) {
            spdlog::error("Overlay: no window or Direct3D 11 device to draw into");
            return false;
        }
        if (!ImGui_ImplWin32_Init(window_)) {
            spdlog::error("Overlay: Win32 platform binding failed");
            return false;
        }
        if (!ImGui_ImplDX11_Init(device_, context_)) {
            spdlog::error("Overlay: DX11 renderer binding failed");
            ImGui_ImplWin32_Shutdown();
            return false;
        }
        return true;
    }

    void stop() override {
        ImGui_ImplDX11_Shutdown();
        ImGui_ImplWin32_Shutdown();
    }

    void process_event(const SDL_Event& event) override {
        ImGuiIO& io = ImGui::GetIO();
        switch (event.type) {
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: {
                const int button = event.button.button == SDL_BUTTON_LEFT    ? 0
                                   : event.button.button == SDL_BUTTON_RIGHT ? 1
                                   : event.button.button == SDL_BUTTON_MIDDLE ? 2
                                                                              : -1;
                const auto x = static_cast<float>(event.button.x);
                const auto y = static_cast<float>(event.button.y);
                if (event.type == SDL_MOUSEBUTTONDOWN) {
                    buttons_.press(button, x, y);
                } else {
                    buttons_.release(button, x, y);
                }
                break;
            }
            case SDL_MOUSEWHEEL:
                io.MouseWheel += static_cast<float>(event.wheel.y);
                io.MouseWheelH += static_cast<float>(event.wheel.x);
                break;
            default:
                break;
        }
    }

    void new_frame() override {
        ImGui_ImplDX11_NewFrame();
        ImGui_ImplWin32_NewFrame();
        // The overlay places the pointer itself, from the window's motion.
        buttons_.start_frame(ImGui::GetIO().MouseDown);
    }

    void render(ImDrawData* draw_data) override { ImGui_ImplDX11_RenderDrawData(draw_data); }

private:
    HWND window_;
    ID3D11Device* device_;
    ID3D11DeviceContext* context_;
    // A click that lands between two frames still reaches ImGui. Events and
    // frames come in under the overlay's lock.
    MouseButtonLatch buttons_;
};

}  // namespace

std::unique_ptr<OverlayBackend> make_d3d11_overlay_backend(HWND window, ID3D11Device* device,
                                                           ID3D11DeviceContext* context) {
    return std::make_unique<D3d11OverlayBackend>(window, device, context);
}

}  // namespace nb::ui
