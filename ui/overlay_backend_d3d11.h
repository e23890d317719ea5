// The overlay's Direct3D 11 binding, for the Windows renderer: its window,
// device and immediate context, used on the video thread.
#pragma once

#include <d3d11.h>
#include <windows.h>

#include <memory>

#include "ui/overlay_backend.h"

namespace nb::ui {

std::unique_ptr<OverlayBackend> make_d3d11_overlay_backend(HWND window, ID3D11Device* device,
                                                           ID3D11DeviceContext* context);

}  // namespace nb::ui
