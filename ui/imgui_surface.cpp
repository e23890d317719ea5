// What both platforms' surfaces share: the ImGui context they draw with.
#include "ui/imgui_surface.h"

#include <imgui.h>

#include "ui/launcher_fonts.h"

namespace nb::ui {

void create_launcher_imgui_context(LauncherFonts& fonts) {
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    io.IniFilename = nullptr;
    fonts = load_launcher_fonts(io);
    apply_launcher_theme(ImGui::GetStyle());
}

}  // namespace nb::ui
