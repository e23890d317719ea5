#include "ui/overlay_panels.h"

#include <imgui.h>

#include <cfloat>
#include <cinttypes>
#include <cstdio>

#include "ui/imgui_colour.h"
#include "ui/overlay_quality.h"

namespace nb::ui {

namespace {

constexpr float k_card_height = 46.0f;
constexpr float k_card_rounding = 10.0f;
// The graph's points at most: two seconds at 120 fps.
constexpr size_t k_graph_points = 240;

// A rounded tile with a small grey label above its value.
void stat_card(const char* label, const char* value, const Rgba& value_colour, float width) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 top_left = ImGui::GetCursorScreenPos();
    const ImVec2 bottom_right(top_left.x + width, top_left.y + k_card_height);
    draw->AddRectFilled(top_left, bottom_right, packed(palette::card), k_card_rounding);
    draw->AddRect(top_left, bottom_right, packed(value_colour.with_alpha(0.2f)), k_card_rounding, 0, 1.0f);
    draw->AddText(ImVec2(top_left.x + 10.0f, top_left.y + 6.0f), packed(palette::grey.with_alpha(0.8f)), label);
    draw->AddText(ImVec2(top_left.x + 10.0f, top_left.y + 22.0f), packed(value_colour), value);
    ImGui::Dummy(ImVec2(width, k_card_height));
}

// The accent dot and the panel's title; returns the title row's origin.
ImVec2 title_row(const char* title, const Rgba& accent) {
    ImGui::Dummy(ImVec2(0.0f, 2.0f));
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddCircleFilled(ImVec2(origin.x + 6.0f, origin.y + 7.0f), 5.0f, packed(accent), 16);
    draw->AddText(ImVec2(origin.x + 16.0f, origin.y + 1.0f), packed(palette::grey), title);
    return origin;
}

void separator(const Rgba& line_colour) {
    const ImVec2 at = ImGui::GetCursorScreenPos();
    const float width = ImGui::GetContentRegionAvail().x;
    ImGui::GetWindowDrawList()->AddLine(ImVec2(at.x, at.y + 1.0f), ImVec2(at.x + width, at.y + 1.0f),
                                        packed(line_colour), 1.0f);
    ImGui::Dummy(ImVec2(width, 3.0f));
}

void fps_and_latency_cards(const PanelValues& values, const char* fps_label, int columns) {
    const float spacing = ImGui::GetStyle().ItemSpacing.x;
    const float width = (ImGui::GetContentRegionAvail().x - spacing * static_cast<float>(columns - 1)) /
                        static_cast<float>(columns);
    char text[48];
    std::snprintf(text, sizeof text, "%d fps", values.fps);
    stat_card(fps_label, text, quality_colour(fps_quality(values.fps)), width);
    ImGui::SameLine();
    std::snprintf(text, sizeof text, "%.0f ms", values.rtt_ms);
    stat_card("Latency", text, quality_colour(latency_quality(values.rtt_ms)), width);
    if (columns == 3) {
        ImGui::SameLine();
        std::snprintf(text, sizeof text, "%.1f ms", values.decode_ms);
        stat_card("Decode", text, palette::light_blue, width);
    }
}

// Both series scaled alike; a picture's whole time and its decode share
// the card, with a faint mark at one frame of 60 fps for reference.
void frame_time_graph(const PanelValues& values, float width) {
    constexpr float k_height = 78.0f;
    constexpr float k_plot_top = 38.0f;
    constexpr float k_frame_ms = 1000.0f / 60.0f;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 top_left = ImGui::GetCursorScreenPos();
    const ImVec2 bottom_right(top_left.x + width, top_left.y + k_height);
    draw->AddRectFilled(top_left, bottom_right, packed(palette::card), k_card_rounding);
    draw->AddRect(top_left, bottom_right, packed(palette::light_blue.with_alpha(0.2f)), k_card_rounding, 0, 1.0f);
    draw->AddText(ImVec2(top_left.x + 10.0f, top_left.y + 6.0f), packed(palette::grey.with_alpha(0.8f)),
                  "Frame time (2 s)");
    char text[64];
    const float total = values.total_history_ms.empty() ? 0.0f : values.total_history_ms.back();
    const float decode = values.decode_history_ms.empty() ? 0.0f : values.decode_history_ms.back();
    std::snprintf(text, sizeof text, "%.1f ms", total);
    draw->AddText(ImVec2(top_left.x + 10.0f, top_left.y + 20.0f), packed(palette::light_blue), text);
    const float decode_x = top_left.x + 10.0f + ImGui::CalcTextSize(text).x + 10.0f;
    std::snprintf(text, sizeof text, "decode %.1f ms", decode);
    draw->AddText(ImVec2(decode_x, top_left.y + 20.0f), packed(palette::violet), text);

    float scale_ms = k_frame_ms * 1.5f;
    for (float ms : values.total_history_ms) scale_ms = ms * 1.1f > scale_ms ? ms * 1.1f : scale_ms;
    const float left = top_left.x + 8.0f;
    const float plot_width = width - 16.0f;
    const float bottom = bottom_right.y - 6.0f;
    const float plot_height = bottom - (top_left.y + k_plot_top);
    const auto y_of = [&](float ms) { return bottom - plot_height * (ms < 0.0f ? 0.0f : ms) / scale_ms; };
    draw->AddLine(ImVec2(left, y_of(k_frame_ms)), ImVec2(left + plot_width, y_of(k_frame_ms)),
                  packed(palette::grey.with_alpha(0.5f)), 1.0f);
    const auto series = [&](std::span<const float> ms, const Rgba& line) {
        if (ms.size() < 2) return;
        ImVec2 points[k_graph_points];
        const size_t count = ms.size() < k_graph_points ? ms.size() : k_graph_points;
        const size_t first = ms.size() - count;
        for (size_t i = 0; i < count; ++i) {
            points[i] = ImVec2(left + plot_width * static_cast<float>(i) / static_cast<float>(count - 1),
                               y_of(ms[first + i]));
        }
        draw->AddPolyline(points, static_cast<int>(count), packed(line), ImDrawFlags_None, 1.5f);
    };
    series(values.total_history_ms, palette::light_blue);
    series(values.decode_history_ms, palette::violet);
    ImGui::Dummy(ImVec2(width, k_height));
}

}  // namespace

void draw_information_panel(const PanelValues& values) {
    const ImVec2 origin = title_row("SESSION", palette::blue);
    const float avail = ImGui::GetContentRegionAvail().x;
    const int64_t seconds = values.session_seconds < 0 ? 0 : values.session_seconds;
    char text[64];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64, seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    const ImVec2 time_size = ImGui::CalcTextSize(text);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddText(ImVec2(origin.x + avail - time_size.x, origin.y + 1.0f), packed(palette::blue), text);
    ImGui::Dummy(ImVec2(avail, ImGui::GetTextLineHeight() + 2.0f));
    if (!values.server_hostname.empty()) {
        ImGui::PushStyleColor(ImGuiCol_Text, vec(palette::cyan.with_alpha(0.72f)));
        ImGui::TextUnformatted(values.server_hostname.data(),
                               values.server_hostname.data() + values.server_hostname.size());
        ImGui::PopStyleColor();
    }
    separator(palette::blue.with_alpha(0.14f));

    const float half = (ImGui::GetContentRegionAvail().x - ImGui::GetStyle().ItemSpacing.x) / 2.0f;
    std::snprintf(text, sizeof text, "$%.2f", static_cast<double>(values.balance_cents) / 100.0);
    stat_card("Balance", text, palette::blue, half);
    ImGui::SameLine();
    std::snprintf(text, sizeof text, "$%.2f", static_cast<double>(values.cost_cents) / 100.0);
    stat_card("Cost", text, palette::cyan, half);

    fps_and_latency_cards(values, "FPS", 3);
    frame_time_graph(values, ImGui::GetContentRegionAvail().x);

    // What arrives beside what was asked for: a starved or capped link shows.
    std::snprintf(text, sizeof text, "%d / %d kbps", values.measured_kbps, values.bitrate_kbps);
    stat_card("Bitrate", text, palette::light_blue, ImGui::GetContentRegionAvail().x);

    std::snprintf(text, sizeof text, "%.1f%%", values.loss_pct);
    stat_card("Loss", text, quality_colour(loss_quality(values.loss_pct)), half);

    if (!values.codec_name.empty()) {
        const std::string codec(values.codec_name);
        stat_card("Codec", codec.c_str(), palette::violet, ImGui::GetContentRegionAvail().x);
    }
}

std::optional<StreamingChange> draw_settings_panel(const PanelValues& values, StreamSettings& stream) {
    title_row("STREAM SETTINGS", palette::violet);
    ImGui::Dummy(ImVec2(ImGui::GetContentRegionAvail().x, ImGui::GetTextLineHeight() + 2.0f));

    fps_and_latency_cards(values, "Live FPS", 2);
    separator(palette::violet.with_alpha(0.2f));

    ImGui::PushStyleColor(ImGuiCol_FrameBg, vec(palette::card));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, vec(palette::violet.with_alpha(0.18f)));
    ImGui::PushStyleColor(ImGuiCol_FrameBgActive, vec(palette::violet.with_alpha(0.28f)));
    ImGui::PushStyleColor(ImGuiCol_SliderGrab, vec(palette::violet));
    ImGui::PushStyleColor(ImGuiCol_SliderGrabActive, vec(palette::cyan));

    ImGui::TextColored(vec(palette::grey), "Bitrate");
    ImGui::SameLine();
    ImGui::TextColored(vec(palette::violet), "%d kbps", stream.bitrate);
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::SliderInt("##bitrate", &stream.bitrate, k_min_bitrate_kbps, k_max_bitrate_kbps, "",
                     ImGuiSliderFlags_AlwaysClamp);
    const bool bitrate_released = ImGui::IsItemDeactivatedAfterEdit();

    ImGui::TextColored(vec(palette::grey), "Target FPS");
    ImGui::SameLine();
    ImGui::TextColored(vec(palette::cyan), "%d fps", stream.fps);
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::SliderInt("##fps", &stream.fps, k_min_fps, k_max_fps, "%d", ImGuiSliderFlags_AlwaysClamp);
    const bool fps_released = ImGui::IsItemDeactivatedAfterEdit();

    ImGui::PopStyleColor(5);

    char text[64];
    std::snprintf(text, sizeof text, "%dx%d @ %d fps", stream.width, stream.height, stream.fps);
    stat_card("Applied", text, palette::cyan, ImGui::GetContentRegionAvail().x);

    return change_on_release(bitrate_released, fps_released, stream);
}

}  // namespace nb::ui
