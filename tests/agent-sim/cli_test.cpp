// The agent's command line in the parser and in the real program.
#include <gtest/gtest.h>

#include <signal.h>

#include "tests/agent-sim/agent_fixture.h"
#include "tests/support/command_line.h"
#include "tools/agent-sim/agent_options.h"

namespace nb {
namespace {

ParsedOptions parse(std::vector<std::string> args) { return test::parse_command_line(parse_agent_options, args); }

TEST(AgentOptions, ValuesArriveInBothSpellings) {
    const auto p = parse({"--token", "t", "--control-port=49001", "--fec-count", "5", "--loss=2.5",
                          "--withhold-frames", "3,10,11", "--annexb-codec", "hevc", "--no-audio", "--seed=42", "--omit-key", "audio",
                          "--omit-key=input", "--stream-size", "1280x720"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.token, "t");
    EXPECT_EQ(p.options.control_port, 49001);
    EXPECT_EQ(p.options.fec_count, 5);
    EXPECT_DOUBLE_EQ(p.options.impairment.loss_pct, 2.5);
    EXPECT_EQ(p.options.impairment.withhold_frames, (std::vector<uint32_t>{3, 10, 11}));
    EXPECT_EQ(p.options.annexb_codec, VideoCodec::HEVC);
    EXPECT_FALSE(p.options.audio);
    EXPECT_EQ(p.options.seed, 42u);
    EXPECT_TRUE(p.options.omit_audio_key && p.options.omit_input_key && !p.options.omit_video_key);
    EXPECT_EQ(p.options.stream_width, 1280);
    EXPECT_EQ(p.options.stream_height, 720);
    // Production ports unless told otherwise.
    EXPECT_EQ(p.options.video_port, 48002);
    EXPECT_EQ(p.options.audio_port, 48003);
    EXPECT_EQ(p.options.input_port, 48000);
}

TEST(AgentOptions, BadCommandLinesNameTheirFault) {
    test::expect_refused(parse_agent_options, {
        {{}, "--token or --accept-any-token"},
        {{"--token"}, "--token needs a value"},
        {{"--accept-any-token", "--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--accept-any-token", "--control-port", "70000"}, "--control-port expects an integer from 0 to 65535"},
        {{"--accept-any-token", "--control-port", "12ab"}, "--control-port"},
        {{"--accept-any-token", "--loss", "101"}, "--loss expects a number from 0 to 100"},
        {{"--accept-any-token", "--loss", "nan"}, "--loss"},
        {{"--accept-any-token", "--fec-count", "257"}, "--fec-count"},
        {{"--accept-any-token", "--withhold-frames", "3,,4"}, "--withhold-frames"},
        {{"--accept-any-token", "--withhold-frames", "0"}, "--withhold-frames"},
        {{"--accept-any-token", "--preset", "placebo"}, "--preset expects one of"},
        {{"--accept-any-token", "--no-audio=yes"}, "--no-audio takes no value"},
        {{"--accept-any-token", "--video-port", "5000", "--input-port", "5000"}, "must differ"},
        {{"--accept-any-token", "--no-audio", "--audio-file", "x.pcm"}, "contradict"},
        {{"--accept-any-token", "--duration", "0"}, "--duration"},
        {{"--accept-any-token", "--stream-size", "1281x720"}, "--stream-size expects WIDTHxHEIGHT"},
        {{"--accept-any-token", "--stream-size", "1280x720p"}, "--stream-size"},
    });
}

std::filesystem::path program() { return test::build_dir() / "nubora-agent-sim"; }

// A run on free ports with its event log at `events`, plus `extra`.
std::vector<std::string> free_port_args(const std::filesystem::path& events, std::vector<std::string> extra) {
    std::vector<std::string> args = {"--control-port", "0", "--video-port", "0", "--audio-port", "0",
                                     "--input-port", "0", "--events", events.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(AgentProgram, HelpDocumentsEveryOptionAndBadOptionsExitTwo) {
    test::expect_usage(program(),
                       {"--bind", "--control-port", "--video-port", "--audio-port", "--input-port", "--token",
                        "--accept-any-token", "--fec-ratio", "--fec-count", "--annexb", "--tone", "--audio-file",
                        "--loss", "--burst-loss", "--reorder-window", "--duplicate", "--corrupt", "--forge",
                        "--withhold-frames", "--seed", "--events", "--duration"},
                       {"--token", "t", "--loss", "x"}, "--loss expects a number");
}

TEST(AgentProgram, UnusablePortOrEventFileExitsOne) {
    const auto dir = test::fresh_temp_dir("agent-cli");
    test::ChildProcess no_file(program(), free_port_args(dir / "missing" / "events.jsonl", {"--accept-any-token"}), {},
                               dir);
    EXPECT_EQ(no_file.wait_exit(), 1);
    EXPECT_NE(no_file.output().find("EventLog: cannot open"), std::string::npos);
    test::ChildProcess bad_bind(program(), {"--accept-any-token", "--bind", "not-an-address"}, {}, dir);
    EXPECT_EQ(bad_bind.wait_exit(), 1);
}

TEST(AgentProgram, StopsCleanlyOnSignalAndAfterDuration) {
    for (const bool by_signal : {true, false}) {
        SCOPED_TRACE(by_signal ? "signal" : "duration");
        const auto dir = test::fresh_temp_dir("agent-cli");
        const auto events = dir / "events.jsonl";
        test::ChildProcess agent(program(),
                                 free_port_args(events, {"--token", "t", "--duration", by_signal ? "120" : "0.3"}), {},
                                 dir);
        if (by_signal) {
            ASSERT_TRUE(agent.wait_for_output("Agent: ready"));
            agent.signal(SIGTERM);
        }
        EXPECT_EQ(agent.wait_exit(), 0) << agent.output();
        const auto all = test::read_events(events);
        ASSERT_GE(all.size(), 2u);
        EXPECT_EQ(all.front()["event"], "agent_started");
        EXPECT_GT(all.front()["control_port"].get<int>(), 0);
        EXPECT_EQ(all.back()["event"], "agent_stopped");
    }
}

}  // namespace
}  // namespace nb
