// The remote picture end to end: the agent's test scene arrives, decodes and
// shows in the window; resizing and full screen keep it playing; a vanished
// agent leaves the client up until the user quits.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "tests/e2e/stream_session.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::StreamSession;

class StreamPlayback : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    }
};

// The whole scene fills the window: the leftmost colour bar is light grey,
// the rightmost blue.
void expect_whole_picture(StreamSession& session, const std::string& name) {
    const auto shot = session.screenshot(name);
    ASSERT_TRUE(shot.has_value());
    const uint8_t* grey = shot->at(shot->width / 14, shot->height / 3);
    EXPECT_NEAR(grey[0], 191, 24);
    EXPECT_NEAR(grey[1], 191, 24);
    EXPECT_NEAR(grey[2], 191, 24);
    const uint8_t* blue = shot->at(shot->width * 13 / 14, shot->height / 3);
    EXPECT_LT(blue[0], 60);
    EXPECT_LT(blue[1], 60);
    EXPECT_GT(blue[2], 150);
}

TEST_F(StreamPlayback, TestSceneShowsAndKeepsPlayingThroughResizeAndFullScreen) {
    StreamSession session("nubora-e2e-playback");
    ASSERT_TRUE(session.start()) << session.outputs();

    const auto first = session.wait_for_newer_frame(0, "first");
    ASSERT_TRUE(first.has_value()) << session.client().output();
    expect_whole_picture(session, "bars");

    session.xdotool("windowsize " + session.window_id() + " 960 540");
    ASSERT_TRUE(session.client().wait_for_output("Window resized to 960x540"));
    const auto after_resize = session.wait_for_newer_frame(first->frame_number, "resized");
    ASSERT_TRUE(after_resize.has_value()) << session.client().output();

    session.xdotool("windowactivate --sync " + session.window_id());
    session.xdotool("key --window " + session.window_id() + " F11");
    ASSERT_TRUE(session.client().wait_for_output("Window resized to 1920x1080"));
    session.xdotool("key --window " + session.window_id() + " F11");
    // Leaving full screen gives the window, and the picture, its size back.
    ASSERT_TRUE(session.client().wait_for_output("GlRenderer: resizing 1920x1080 → 960x540"));
    const auto after_toggle = session.wait_for_newer_frame(after_resize->frame_number, "toggled");
    ASSERT_TRUE(after_toggle.has_value()) << session.client().output();
    expect_whole_picture(session, "windowed-again");

    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();
    const auto frames = session.frame_counts();
    ASSERT_TRUE(frames) << session.client().output();
    EXPECT_GT(frames->presented, 10);
    EXPECT_GE(frames->decoded, frames->presented);  // frames overtaken by newer ones are decoded, not drawn
    EXPECT_LE(frames->presented, static_cast<long>(session.agent_events("frame_sent").size()));
    EXPECT_EQ(session.agent_events("request_idr").size() >= 1, true);
}

// A killed agent never says goodbye; the kernel closing its socket is all
// the client hears, and that alone must end a command-line stream.
TEST_F(StreamPlayback, KilledAgentEndsTheStreamWithExitOne) {
    StreamSession session("nubora-e2e-vanish");
    ASSERT_TRUE(session.start()) << session.outputs();
    ASSERT_TRUE(session.wait_for_newer_frame(0, "before").has_value()) << session.client().output();

    session.agent().signal(SIGKILL);
    EXPECT_EQ(session.client().wait_exit(), 1) << session.client().output();
    const std::string out = session.client().output();
    EXPECT_NE(out.find("Launcher: connection to the agent lost"), std::string::npos) << out;
    EXPECT_NE(out.find("Launcher: shutdown complete"), std::string::npos);
}

}  // namespace
}  // namespace nb
