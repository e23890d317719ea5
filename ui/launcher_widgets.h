// The small drawn widgets every launcher screen shares.
#pragma once

#include <imgui.h>

#include <string_view>

#include "ui/launcher_impl.h"
#include "ui/overlay_quality.h"

namespace nb::ui {

ImVec4 to_vec4(const Rgba& colour);
ImVec4 to_vec4(const Rgba& colour, float alpha);
ImU32 to_u32(const Rgba& colour, float alpha = 1.0f);

// Filled accent button, 38 px high; `width` <= 0 takes the available width.
bool primary_button(const char* label, float width);
// Accent-tinted button with accent text.
bool secondary_button(const char* label, float width);
// Error-tinted button for destructive actions.
bool danger_button(const char* label, float width, float fill_alpha, float hover_alpha, float press_alpha);
// A transparent button that reads as a link.
bool link_button(const char* label);

void spinner(float radius);
void status_badge(std::string_view status);
// Five stars 17 px apart; star i is filled while `value` >= i.
void star_rating(float value);
// "EN" and "РУ"; a click switches the language and saves the configuration.
// `stacked` puts them one above the other, for the collapsed sidebar.
void language_switch(NativeLauncher::Impl& impl, bool stacked = false);

// Text in one of the four slots, optionally coloured.
void text_in(ImFont* font, const char* text);
void text_in(ImFont* font, const Rgba& colour, const char* text);
void centred_text(ImFont* font, const Rgba& colour, const char* text);

}  // namespace nb::ui
