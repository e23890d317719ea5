// Our colours in the forms ImGui takes them.
#pragma once

#include <imgui.h>

#include "ui/overlay_quality.h"

namespace nb::ui {

inline ImVec4 vec(const Rgba& c) { return ImVec4(c.r, c.g, c.b, c.a); }
inline ImVec4 vec(const Rgba& c, float alpha) { return ImVec4(c.r, c.g, c.b, alpha); }
inline ImU32 packed(const Rgba& c) { return ImGui::GetColorU32(vec(c)); }

}  // namespace nb::ui
