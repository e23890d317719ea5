// The decorated left half of the sign-in and registration screens and the
// form column beside it.
#pragma once

#include "ui/launcher_impl.h"
#include "ui/overlay_quality.h"

namespace nb::ui {

struct HeroLook {
    const char* id;
    const char* title;
    const char* tagline;
    Rgba mark_colour;
    // The first disc breathes with time; the others follow their own rules.
    Rgba first_disc;
    float first_alpha;
    Rgba second_disc;
    float second_alpha;
    bool third_disc;
};

// Share of the window width the hero takes.
constexpr float k_hero_share = 0.42f;

void render_hero(NativeLauncher::Impl& impl, const HeroLook& look);

// Opens the form panel `id` and a centred column; returns the column width.
float begin_form_panel(NativeLauncher::Impl& impl, const char* id);
void end_form_panel();

// A label above a full-width input with the form's padding.
void form_input(const char* label, const char* id, char* buffer, size_t size, float width, bool masked);

}  // namespace nb::ui
