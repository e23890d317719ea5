// The status card: its own drawing surface and Dear ImGui context on the
// streaming window for as long as no picture needs the window.
#include "ui/status_card.h"

#include <imgui.h>
#include <spdlog/spdlog.h>

#include <algorithm>

#include "ui/launcher_widgets.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

constexpr float k_button_width = 140.0f;
constexpr float k_margin = 24.0f;
constexpr float k_spinner_radius = 18.0f;

}  // namespace

StatusCard::StatusCard(SDL_Window* window) : surface_(window) {
    // A blocked present would hold up the event wait that cancels the
    // attempt. The stream's overlay makes its own ImGui context later on the
    // video thread; this one is gone by then.
    if (!surface_.open(fonts_, false, "StatusCard")) {
        surface_.close();
        spdlog::warn("StatusCard: the title alone shows the status");
    }
}

StatusCard::~StatusCard() = default;

void StatusCard::show(const std::string& text, Kind kind) {
    text_ = text;
    kind_ = kind;
    draw();
}

bool StatusCard::handle(const SDL_Event& event) {
    if (!surface_.ready()) return false;
    surface_.process_event(event);
    // A click lands between two draws; the button reports it on the next.
    if (event.type == SDL_MOUSEBUTTONUP || event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_KEYDOWN) draw();
    const bool pressed = cancel_pressed_;
    cancel_pressed_ = false;
    return pressed;
}

void StatusCard::draw() {
    if (!surface_.ready()) return;
    surface_.begin_frame();

    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    constexpr ImGuiWindowFlags k_flags = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                                         ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus;
    ImGui::PushStyleColor(ImGuiCol_WindowBg, to_vec4(lp::background));
    ImGui::Begin("##status", nullptr, k_flags);
    // Every line is centred across the whole window.
    const float content_height = kind_ == Kind::progress ? 190.0f : 90.0f;
    ImGui::SetCursorPosY(std::max(16.0f, (viewport->Size.y - content_height) / 2.0f));
    centred_text(fonts_.semibold_22, lp::text, "Nubora");
    ImGui::Dummy(ImVec2(0.0f, 12.0f));
    if (kind_ == Kind::progress) {
        ImGui::SetCursorPosX((viewport->Size.x - 2.0f * k_spinner_radius) / 2.0f);
        spinner(k_spinner_radius);
        ImGui::Dummy(ImVec2(0.0f, 8.0f));
    }
    const Rgba& colour = kind_ == Kind::progress ? lp::secondary : lp::error;
    ImGui::PushFont(fonts_.regular_15);
    const bool fits = ImGui::CalcTextSize(text_.c_str()).x <= viewport->Size.x - 2.0f * k_margin;
    ImGui::PopFont();
    if (fits) {
        centred_text(fonts_.regular_15, colour, text_.c_str());
    } else {
        // Advice can be a long sentence: wrapped inside the margins instead.
        ImGui::SetCursorPosX(k_margin);
        ImGui::PushTextWrapPos(viewport->Size.x - k_margin);
        text_in(fonts_.regular_15, colour, text_.c_str());
        ImGui::PopTextWrapPos();
    }
    if (kind_ == Kind::progress) {
        ImGui::Dummy(ImVec2(0.0f, 16.0f));
        ImGui::SetCursorPosX((viewport->Size.x - k_button_width) / 2.0f);
        if (secondary_button("Cancel", k_button_width)) cancel_pressed_ = true;
    }
    ImGui::End();
    ImGui::PopStyleColor();

    surface_.end_frame(lp::background);
}

}  // namespace nb::ui
