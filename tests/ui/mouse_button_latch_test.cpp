// Clicks between two frames: the latch's queue, and a real ImGui button
// pressed by a click that went down and came up before its frame while the
// pointer moved on.
#include <gtest/gtest.h>
#include <imgui.h>

#include <string>
#include <vector>

#include "ui/mouse_button_latch.h"

namespace nb::ui {
namespace {

// Frame by frame: the left and right buttons, and the pointer when a change
// placed it ("-" when none did).
std::vector<std::string> frames(MouseButtonLatch& latch, int count) {
    std::vector<std::string> seen;
    bool down[MouseButtonLatch::k_buttons] = {};
    for (int i = 0; i < count; ++i) {
        const auto at = latch.start_frame(down);
        seen.push_back(std::string(down[0] ? "L" : "_") + (down[1] ? "R" : "_") + " " +
                       (at ? std::to_string(static_cast<int>(at->x)) + "," + std::to_string(static_cast<int>(at->y))
                           : "-"));
    }
    return seen;
}

TEST(MouseButtonLatch, PlaysEachChangeOutInItsOwnFrameWhereItHappened) {
    MouseButtonLatch quick;
    quick.press(0, 10, 20);
    quick.release(0, 10, 20);
    EXPECT_EQ(frames(quick, 3), (std::vector<std::string>{"L_ 10,20", "__ 10,20", "__ -"}));

    // Two clicks at two places, and the right button meanwhile: each button
    // changes once a frame, in order.
    MouseButtonLatch busy;
    busy.press(0, 1, 1);
    busy.release(0, 1, 2);
    busy.press(1, 5, 5);
    busy.press(0, 3, 3);
    busy.release(0, 3, 4);
    EXPECT_EQ(frames(busy, 5),
              (std::vector<std::string>{"L_ 1,1", "_R 5,5", "LR 3,3", "_R 3,4", "_R -"}));

    // Held: down until released; a repeated press changes nothing.
    MouseButtonLatch held;
    held.press(0, 7, 7);
    EXPECT_EQ(frames(held, 2), (std::vector<std::string>{"L_ 7,7", "L_ -"}));
    held.press(0, 8, 8);
    held.release(0, 9, 9);
    EXPECT_EQ(frames(held, 1), (std::vector<std::string>{"__ 9,9"}));

    // Unknown buttons are ignored; the side buttons are kept.
    MouseButtonLatch other;
    other.press(-1, 0, 0);
    other.press(MouseButtonLatch::k_buttons, 0, 0);
    other.press(4, 0, 0);
    bool down[MouseButtonLatch::k_buttons] = {};
    other.start_frame(down);
    EXPECT_EQ(std::vector<bool>(down, down + MouseButtonLatch::k_buttons),
              (std::vector<bool>{false, false, false, false, true}));

    // A window that draws nothing keeps only the latest changes.
    MouseButtonLatch idle;
    for (size_t i = 0; i < MouseButtonLatch::k_queue_limit + 10; ++i) {
        idle.press(0, static_cast<float>(i), 0);
        idle.release(0, static_cast<float>(i), 0);
    }
    int frames_to_drain = 0;
    while (frames(idle, 1).front() != "__ -") ++frames_to_drain;
    EXPECT_EQ(frames_to_drain, static_cast<int>(MouseButtonLatch::k_queue_limit));
}

// A headless ImGui frame with one button, the pointer where the platform
// reports it now.
class LatchedImGui : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.DisplaySize = ImVec2(200, 100);
        io.DeltaTime = 1.0f / 60.0f;
        io.IniFilename = nullptr;
        unsigned char* pixels = nullptr;
        int width = 0;
        int height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    }
    void TearDown() override { ImGui::DestroyContext(context_); }

    // One frame; true when the button at (0,0)-(100,40) reported a press.
    bool frame(ImVec2 pointer_now) {
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = pointer_now;
        if (const auto at = latch_.start_frame(io.MouseDown)) io.MousePos = ImVec2(at->x, at->y);
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(io.DisplaySize);
        ImGui::Begin("latch", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoBackground);
        ImGui::SetCursorPos(ImVec2(0, 0));
        const bool pressed = ImGui::Button("Rent", ImVec2(100, 40));
        ImGui::End();
        ImGui::Render();
        return pressed;
    }

    ImGuiContext* context_ = nullptr;
    MouseButtonLatch latch_;
};

TEST_F(LatchedImGui, AClickBetweenFramesPressesTheButtonItHitEvenAfterThePointerLeft) {
    const ImVec2 elsewhere(150, 80);
    frame(elsewhere);
    latch_.press(0, 30, 20);
    latch_.release(0, 30, 20);
    int presses = 0;
    for (int i = 0; i < 4; ++i) presses += frame(elsewhere) ? 1 : 0;
    EXPECT_EQ(presses, 1);

    // A click beside the button presses nothing.
    latch_.press(0, 150, 80);
    latch_.release(0, 150, 80);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(frame(ImVec2(30, 20)));
}

}  // namespace
}  // namespace nb::ui
