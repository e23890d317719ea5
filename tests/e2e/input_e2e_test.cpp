// Mouse and keyboard end to end: input injected into the streaming window
// arrives at the agent as decrypted records with Windows' codes.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "tests/e2e/stream_session.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::StreamSession;

// Input records the agent accepted, first copies only, in arrival order.
std::vector<nlohmann::json> first_copies(const std::vector<nlohmann::json>& records) {
    std::vector<nlohmann::json> out;
    for (const auto& record : records) {
        if (!record.value("duplicate", false)) out.push_back(record);
    }
    return out;
}

size_t copies_of(const std::vector<nlohmann::json>& records, int type, uint32_t seq) {
    size_t n = 0;
    for (const auto& record : records) {
        if (record.value("type", -1) == type && record.value("seq", 0u) == seq) ++n;
    }
    return n;
}

TEST(InputEndToEnd, KeysButtonsWheelAndMotionReachTheAgent) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    StreamSession session("nubora-e2e-input");
    ASSERT_TRUE(session.start()) << session.outputs();
    const std::string window = session.window_id();
    ASSERT_FALSE(window.empty());
    session.xdotool("windowactivate --sync " + window);
    session.xdotool("windowfocus --sync " + window);
    std::this_thread::sleep_for(300ms);

    session.xdotool("key --clearmodifiers a");
    session.xdotool("keydown Control_R");
    session.xdotool("keyup Control_R");
    session.xdotool("click 1");
    session.xdotool("click 5");  // wheel towards the user
    // The click captures the mouse once the main loop gets to it; motion
    // before that is the free pointer's and rightly not sent.
    std::this_thread::sleep_for(300ms);
    session.xdotool("mousemove_relative -- 15 -7");
    std::this_thread::sleep_for(1500ms);
    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();

    const auto all = session.agent_events("input");
    const auto records = first_copies(all);
    ASSERT_FALSE(records.empty()) << session.client().output();

    auto find = [&](int type, auto predicate) -> const nlohmann::json* {
        for (const auto& r : records) {
            if (r.value("type", -1) == type && predicate(r)) return &r;
        }
        return nullptr;
    };
    // A: virtual key 0x41, make code 0x1E, no prefix; up carries the break flag.
    const auto* a_down = find(3, [](const auto& r) { return r["x"] == 0x41; });
    const auto* a_up = find(4, [](const auto& r) { return r["x"] == 0x41; });
    ASSERT_TRUE(a_down && a_up);
    EXPECT_EQ((*a_down)["y"], 0x1E);
    EXPECT_EQ((*a_up)["y"], 0x1E | (0x01 << 8));
    // Right Ctrl: generic VK_CONTROL, make code 0x1D with the E0 prefix (xdotool
    // may press the left one around it as well).
    EXPECT_TRUE(find(3, [](const auto& r) { return r["x"] == 0x11 && r["y"] == (0x1D | (0x02 << 8)); }));
    EXPECT_TRUE(find(4, [](const auto& r) { return r["x"] == 0x11 && r["y"] == (0x1D | (0x03 << 8)); }));
    // Left button down then up.
    EXPECT_TRUE(find(1, [](const auto& r) { return r["buttons"] == 1; }));
    EXPECT_TRUE(find(1, [](const auto& r) { return r["buttons"] == 0; }));
    // One notch towards the user.
    EXPECT_TRUE(find(2, [](const auto& r) { return static_cast<int16_t>(r["y"].template get<int>()) == -120; }));
    // Relative motion arrives as movement records.
    EXPECT_TRUE(find(0, [](const auto&) { return true; }));

    // Buttons, wheel and keys travel twice; motion once.
    for (const auto& r : records) {
        const int type = r.value("type", -1);
        const size_t expected = type >= 1 && type <= 4 ? 2 : 1;
        EXPECT_EQ(copies_of(all, type, r.value("seq", 0u)), expected) << r.dump();
    }
}

}  // namespace
}  // namespace nb
