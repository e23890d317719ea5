// A full-HD stream at 60 fps from the test agent beside the client, judged
// by what each end records: key-frame requests and loss reports at the
// agent, pictures and the overlay's figures at the client.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <numeric>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/e2e/stream_session.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::StreamSession;

class StreamHealth : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    }

    static test::StreamOptions full_hd(std::vector<std::string> agent_args) {
        test::StreamOptions options;
        options.width = 1920;
        options.height = 1080;
        options.agent_args = std::move(agent_args);
        options.agent_args.push_back("--no-audio");
        options.client_env = {{"NB_LOG_LEVEL", "debug"}};
        return options;
    }

    // Key-frame requests after the one every stream starts with.
    static std::vector<nlohmann::json> later_requests(StreamSession& session) {
        auto requests = session.agent_events("request_idr");
        if (!requests.empty()) requests.erase(requests.begin());
        return requests;
    }

    // Frames the agent says the client cannot rebuild: more data packets
    // lost than repair packets left, or never sent at all.
    static std::vector<int64_t> unrepairable_frame_times(StreamSession& session) {
        std::vector<int64_t> times;
        for (const auto& frame : session.agent_events("frame_sent")) {
            const auto impairment = frame.value("impairment", nlohmann::json::object());
            const auto lost = impairment.value("lost_data", nlohmann::json::array()).size();
            const int repair_left = frame.value("repair_packets", 0) - impairment.value("lost_repair", 0);
            if (impairment.value("withheld", false) || (lost > 0 && static_cast<int>(lost) >= repair_left)) {
                times.push_back(frame.value("t_us", int64_t{0}));
            }
        }
        return times;
    }

    static void stream_for(std::chrono::seconds total, std::chrono::steady_clock::time_point started) {
        std::this_thread::sleep_until(started + total);
    }
};

// The client's lines about frames that went missing on their way, for
// failure messages.
std::string frame_path_trouble(const std::string& log) {
    std::string out;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        for (const char* what : {"KeyFrameRequester:", "VideoThread:", "superseded", "stale", "pending-state"}) {
            if (line.find(what) != std::string::npos) {
                out += line + "\n";
                break;
            }
        }
    }
    return out;
}

struct OverlayFigure {
    double at_s;       // the log line's clock, seconds into the day
    int fps_shown;
    long presented;  // the counter at that moment
};

// The overlay's figures as it logs them at debug level once a second.
std::vector<OverlayFigure> overlay_figures(const std::string& log) {
    static const std::regex line(
        R"((\d{2}):(\d{2}):(\d{2}\.\d{3})\].*Overlay: showing (\d+) fps presented.*\((\d+) presented)");
    std::vector<OverlayFigure> out;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it) {
        const auto& m = *it;
        out.push_back({std::stod(m[1]) * 3600 + std::stod(m[2]) * 60 + std::stod(m[3]), std::stoi(m[4]),
                       std::stol(m[5])});
    }
    return out;
}

TEST_F(StreamHealth, LosslessFullHdStreamAsksOneKeyFrameReportsNoLossAndShowsTheLastFrame) {
    StreamSession session("nubora-e2e-health", full_hd({}));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(session.start()) << session.outputs();
    ASSERT_TRUE(session.wait_for_newer_frame(0, "first")) << session.client().output();
    ASSERT_TRUE(session.press_until_logged("shift+alt+i", "Overlay: information panel shown"));
    stream_for(30s, started);

    // Frozen at the source, the window must show the last frame that left it.
    session.agent().signal(SIGSTOP);
    std::this_thread::sleep_for(1500ms);
    const auto shot = session.screenshot("last");
    const auto frames_sent = session.agent_events("frame_sent");
    session.agent().signal(SIGCONT);
    ASSERT_TRUE(shot);
    const auto stamp = StreamSession::stamp_of(*shot);
    ASSERT_TRUE(stamp) << "no readable frame stamp in the final picture";
    ASSERT_FALSE(frames_sent.empty());
    const uint32_t last_sent = frames_sent.back().value("frame_id", 0u);
    // The agent logs a frame once its datagrams are out, so it may have
    // stopped between sending one more frame and logging it.
    EXPECT_GE(stamp->frame_number, last_sent);
    EXPECT_LE(stamp->frame_number, last_sent + 1);

    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();
    const std::string log = session.client().output();

    EXPECT_TRUE(later_requests(session).empty())
        << later_requests(session).size() << " key-frame requests\n" << frame_path_trouble(log);
    const auto stats = session.agent_events("stats");
    EXPECT_GT(stats.size(), 200u);
    for (const auto& line : stats) ASSERT_EQ(line.value("packet_loss_pct", -1.0), 0.0) << line.dump();

    // Every frame sent was decoded (none held back, none lost).
    const auto decoded = StreamSession::number_after(log, "LibavDecoder: shutdown (decoded ");
    ASSERT_TRUE(decoded);
    EXPECT_GE(*decoded + 2, static_cast<long>(frames_sent.size())) << frame_path_trouble(log);

    // The panel's frame rate is the rate at which the counters grew.
    auto figures = overlay_figures(log);
    ASSERT_GE(figures.size(), 10u) << log;
    figures.erase(figures.begin(), figures.begin() + 3);  // its first second is still filling
    const OverlayFigure& first = figures.front();
    const OverlayFigure& last = figures.back();
    const double counted = static_cast<double>(last.presented - first.presented) / (last.at_s - first.at_s);
    const double shown = std::accumulate(figures.begin() + 1, figures.end(), 0.0,
                                         [](double sum, const OverlayFigure& f) { return sum + f.fps_shown; }) /
                         static_cast<double>(figures.size() - 1);
    EXPECT_NEAR(shown, counted, counted * 0.10) << "overlay shows " << shown << " fps, counters grew " << counted;
    std::smatch summary;
    ASSERT_TRUE(std::regex_search(log, summary, std::regex(R"(Launcher: (\d+) pictures presented)")));
    EXPECT_GE(std::stol(summary[1]), last.presented) << "the shutdown line counts what the panel counted";
}

TEST_F(StreamHealth, UnderFivePercentLossKeyFramesAreAskedOnlyForUnrepairableFrames) {
    StreamSession session("nubora-e2e-health-loss", full_hd({"--loss", "5", "--seed", "7"}));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(session.start()) << session.outputs();
    const auto first = session.wait_for_newer_frame(0, "first");
    ASSERT_TRUE(first) << session.client().output();
    stream_for(15s, started);
    // Still playing: repaired frames and key frames keep the picture going.
    ASSERT_TRUE(session.wait_for_newer_frame(first->frame_number + 60, "later")) << session.client().output();
    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();

    const auto unrepairable = unrepairable_frame_times(session);
    const auto requests = later_requests(session);
    ASSERT_FALSE(unrepairable.empty()) << "5 % loss should cost some frames their repair";
    EXPECT_LE(requests.size(), unrepairable.size());
    for (const auto& request : requests) {
        const int64_t at = request.value("t_us", int64_t{0});
        // A request answers a frame lost shortly before, or repeats one
        // whose key frame never came within a second.
        const bool answers_a_loss = std::any_of(unrepairable.begin(), unrepairable.end(), [&](int64_t lost_at) {
            return lost_at <= at && at - lost_at <= 1'500'000;
        });
        EXPECT_TRUE(answers_a_loss) << request.dump();
    }
    // Loss is reported as it is: about the share of data packets dropped.
    const auto stats = session.agent_events("stats");
    ASSERT_FALSE(stats.empty());
    double sum = 0;
    for (const auto& line : stats) sum += line.value("packet_loss_pct", 0.0);
    const double mean = sum / static_cast<double>(stats.size());
    EXPECT_GT(mean, 2.0);
    EXPECT_LT(mean, 9.0);
}

}  // namespace
}  // namespace nb
