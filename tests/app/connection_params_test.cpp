// Command line and deep-link parsing into ConnectionParams.
#include <gtest/gtest.h>

#include <vector>

#include "app/command_line.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

using Action = CommandLine::Action;

CommandLine read_args(std::vector<const char*> args) {
    args.insert(args.begin(), "nubora-launcher");
    return read_command_line(static_cast<int>(args.size()), args.data());
}

TEST(NumericReader, AcceptsOnlyWholeDecimalsWithinRange) {
    EXPECT_EQ(parse_bounded_int("240", 240), 240);
    EXPECT_EQ(parse_bounded_int("1", 240), 1);
    for (const char* bad : {"0", "241", "60x", "+60", " 60", "60 ", "", "-", "-5", "0x10",
                            "99999999999999999999", "9223372036854775808"}) {
        EXPECT_FALSE(parse_bounded_int(bad, 240).has_value()) << bad;
    }
    EXPECT_EQ(parse_bounded_int("00065535", 65535), 65535);
}

TEST(CodecText, MapsCaseSensitiveWholeWords) {
    EXPECT_EQ(codec_from_text("h265"), VideoCodec::HEVC);
    EXPECT_EQ(codec_from_text("hevc"), VideoCodec::HEVC);
    EXPECT_EQ(codec_from_text("av1"), VideoCodec::AV1);
    for (const char* other : {"H265", "HEVC", "h264", "", "av1 ", "hevc2"}) {
        EXPECT_EQ(codec_from_text(other), VideoCodec::H264) << other;
    }
}

TEST(QueryDecoding, PercentPlusAndLiteralFallbacks) {
    EXPECT_EQ(decode_query_value("a%2Bb+c"), "a+b c");
    EXPECT_EQ(decode_query_value("50%"), "50%");
    EXPECT_EQ(decode_query_value("%zz"), "%zz");
    EXPECT_EQ(decode_query_value("%4"), "%4");
    EXPECT_EQ(decode_query_value("%4a%4A"), "JJ");
    EXPECT_EQ(decode_query_value("%%41"), "%A");
}

TEST(QueryDecoding, KeyCountsOnlyAtParameterStart) {
    EXPECT_EQ(query_value("xhost=a&host=b", "host"), "b");
    EXPECT_EQ(query_value("host=a&host=b", "host"), "a");
    EXPECT_EQ(query_value("hostx=a", "host"), "");
    EXPECT_EQ(query_value("a=1&host=", "host"), "");
    EXPECT_EQ(query_value("host=x&y", "host"), "x");
}

TEST(DeepLink, MinimalLinkTakesDefaults) {
    ConnectionParams params;
    EXPECT_TRUE(parse_connection_uri("nubora://session?host=10.0.0.5&token=abc", params));
    EXPECT_EQ(params.host, "10.0.0.5");
    EXPECT_EQ(params.token, "abc");
    EXPECT_EQ(params.port, 48001);
    EXPECT_EQ(params.codec, VideoCodec::H264);
    EXPECT_EQ(params.fps, 60);
    EXPECT_EQ(params.bitrate, 30000);
    EXPECT_EQ(params.width, 1920);
    EXPECT_EQ(params.height, 1080);
}

TEST(DeepLink, ControlPortDerivation) {
    ConnectionParams params;
    EXPECT_TRUE(parse_connection_uri("nubora://session?host=h&token=t&video=47998", params));
    EXPECT_EQ(params.port, 48001);

    ConnectionParams explicit_port;
    EXPECT_TRUE(parse_connection_uri("nubora://session?host=h&token=t&port=9000&video=1", explicit_port));
    EXPECT_EQ(explicit_port.port, 9000);

    ConnectionParams control;
    EXPECT_TRUE(parse_connection_uri("nubora://session?host=h&token=t&control_port=7000&video=1", control));
    EXPECT_EQ(control.port, 7000);

    ConnectionParams highest;
    EXPECT_TRUE(parse_connection_uri("nubora://session?host=h&token=t&video=65532", highest));
    EXPECT_EQ(highest.port, 65535);

    test::LogCapture log;
    ConnectionParams bad;
    EXPECT_FALSE(parse_connection_uri("nubora://session?host=h&token=t&video=65533", bad));
    EXPECT_TRUE(log.contains("parse_connection_uri: invalid video port '65533'"));
    EXPECT_FALSE(parse_connection_uri("nubora://session?host=h&token=t&port=0", bad));
    EXPECT_TRUE(log.contains("parse_connection_uri: invalid port '0'"));
}

TEST(DeepLink, RejectsWithoutQueryOrPrefix) {
    test::LogCapture log;
    ConnectionParams params;
    params.host = "kept";
    EXPECT_FALSE(parse_connection_uri("nubora://session", params));
    EXPECT_FALSE(parse_connection_uri("nubora://session/abc", params));
    EXPECT_EQ(log.count("parse_connection_uri: no query string in URI"), 2u);
    EXPECT_FALSE(parse_connection_uri("nubora://sessio?host=a&token=b", params));
    EXPECT_FALSE(parse_connection_uri("http://session?host=a&token=b", params));
    EXPECT_EQ(log.texts().size(), 2u);  // wrong prefixes are silent
    EXPECT_EQ(params.host, "kept");
}

TEST(DeepLink, TrailingQuotesAndPathBeforeQueryAreTolerated) {
    ConnectionParams params;
    EXPECT_TRUE(parse_connection_uri("nubora://session/?host=h&token=t\" \r", params));
    EXPECT_EQ(params.token, "t");
    EXPECT_TRUE(parse_connection_uri("nubora://session?host=h&token=a%2Bb+c", params));
    EXPECT_EQ(params.token, "a+b c");
}

TEST(DeepLink, SettingsAndTheirLimits) {
    ConnectionParams params;
    EXPECT_TRUE(parse_connection_uri("nubora://session?host=h&token=t&codec=hevc&fps=240&bitrate=1000000", params));
    EXPECT_EQ(params.codec, VideoCodec::HEVC);
    EXPECT_EQ(params.fps, 240);
    EXPECT_EQ(params.bitrate, 1000000);

    test::LogCapture log;
    for (const char* fps : {"0", "241", "60x", "+60"}) {
        ConnectionParams p;
        EXPECT_FALSE(parse_connection_uri(std::string("nubora://session?host=h&token=t&fps=") + fps, p)) << fps;
    }
    // The line shows the decoded value: "+" has become a space.
    EXPECT_TRUE(log.contains("parse_connection_uri: invalid fps '60x'"));
    EXPECT_TRUE(log.contains("parse_connection_uri: invalid fps ' 60'"));
    ConnectionParams p;
    EXPECT_FALSE(parse_connection_uri("nubora://session?host=h&token=t&bitrate=1000001", p));
    EXPECT_TRUE(log.contains("parse_connection_uri: invalid bitrate '1000001'"));
}

TEST(DeepLink, HostAndTokenAreAlwaysAssigned) {
    ConnectionParams params;
    params.host = "old";
    params.token = "old";
    params.codec = VideoCodec::HEVC;
    EXPECT_FALSE(parse_connection_uri("nubora://session?fps=30", params));
    EXPECT_EQ(params.host, "");
    EXPECT_EQ(params.token, "");
    EXPECT_EQ(params.codec, VideoCodec::H264);  // an absent codec selects H.264
    EXPECT_EQ(params.fps, 30);
}

TEST(CommandLine, OptionsTakeTheirValueAfterASpaceOrAnEqualsSign) {
    for (const auto& args : {std::vector<const char*>{"--host", "h", "--token", "t", "--codec", "hevc", "--fps", "120",
                                                      "--bitrate", "8000", "--width", "1280", "--height", "720",
                                                      "--port", "9000"},
                             std::vector<const char*>{"--host=h", "--token=t", "--codec=hevc", "--fps=120",
                                                      "--bitrate=8000", "--width=1280", "--height=720", "--port=9000"},
                             std::vector<const char*>{"--host", "h", "--token=t", "--codec", "hevc", "--fps=120",
                                                      "--bitrate", "8000", "--width=1280", "--height", "720",
                                                      "--port=9000"}}) {
        const CommandLine cli = read_args(args);
        ASSERT_EQ(cli.action, Action::stream) << cli.error;
        EXPECT_EQ(cli.params.host, "h");
        EXPECT_EQ(cli.params.token, "t");
        EXPECT_EQ(cli.params.codec, VideoCodec::HEVC);
        EXPECT_EQ(cli.params.fps, 120);
        EXPECT_EQ(cli.params.bitrate, 8000);
        EXPECT_EQ(cli.params.width, 1280);
        EXPECT_EQ(cli.params.height, 720);
        EXPECT_EQ(cli.params.port, 9000);
    }
    // Only the first "=" splits: a token may hold more.
    EXPECT_EQ(read_args({"--host", "h", "--token=a=b"}).params.token, "a=b");
}

TEST(CommandLine, ModesFollowWhatWasGiven) {
    EXPECT_EQ(read_args({}).action, Action::launcher_window);
    const CommandLine host_only = read_args({"--host", "h"});
    EXPECT_EQ(host_only.action, Action::launcher_window);
    EXPECT_EQ(host_only.params.host, "h");

    const CommandLine defaults = read_args({"--host", "h", "--token", "t"});
    EXPECT_EQ(defaults.action, Action::stream);
    EXPECT_EQ(defaults.params.port, 48001);
    EXPECT_EQ(defaults.params.codec, VideoCodec::H264);
    EXPECT_EQ(defaults.params.fps, 60);
    EXPECT_EQ(defaults.params.bitrate, 30000);
    EXPECT_EQ(defaults.params.width, 1920);
    EXPECT_EQ(defaults.params.height, 1080);

    // A deep link ends the options: what follows it is not read.
    const CommandLine link = read_args({"--host", "h", "nubora://session?host=x&token=y", "--fps", "bad"});
    EXPECT_EQ(link.action, Action::deep_link);
    EXPECT_EQ(link.deep_link, "nubora://session?host=x&token=y");

    for (const char* help : {"--help", "-h"}) EXPECT_EQ(read_args({"--host", "h", help}).action, Action::help);
    EXPECT_EQ(read_args({"--version", "--bogus"}).action, Action::version);
    EXPECT_TRUE(is_connection_uri("nubora://anything"));
    EXPECT_FALSE(is_connection_uri("Nubora://session"));
    EXPECT_FALSE(is_connection_uri("nubora:/"));
}

struct RefusedCase {
    std::vector<const char*> args;
    const char* error;
};

class CommandLineRefusal : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(CommandLineRefusal, NamesTheFirstMistake) {
    const CommandLine cli = read_args(GetParam().args);
    EXPECT_EQ(cli.action, Action::invalid);
    EXPECT_EQ(cli.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, CommandLineRefusal,
    ::testing::Values(RefusedCase{{"--bogus", "--host", "h", "--token", "t"}, "Unknown option '--bogus'"},
                      RefusedCase{{"-x"}, "Unknown option '-x'"},
                      RefusedCase{{"--Host", "h"}, "Unknown option '--Host'"},
                      RefusedCase{{"--host", "h", "stray"}, "Unexpected argument 'stray'"},
                      RefusedCase{{"--host", "h", "--token"}, "Option --token needs a value"},
                      RefusedCase{{"--version=2"}, "Option --version takes no value"},
                      RefusedCase{{"--host", ""}, "Invalid --host value ''"},
                      RefusedCase{{"--token="}, "Invalid --token value ''"},
                      RefusedCase{{"--codec", "H265"}, "Invalid --codec value 'H265'"},
                      RefusedCase{{"--codec", "vp9"}, "Invalid --codec value 'vp9'"},
                      RefusedCase{{"--width", "16385"}, "Invalid --width value '16385'"},
                      RefusedCase{{"--height", "0"}, "Invalid --height value '0'"},
                      RefusedCase{{"--fps", ""}, "Invalid --fps value ''"},
                      RefusedCase{{"--fps=+60"}, "Invalid --fps value '+60'"},
                      RefusedCase{{"--bitrate", "1000001"}, "Invalid --bitrate value '1000001'"},
                      RefusedCase{{"--port", "65536"}, "Invalid --port value '65536'"},
                      RefusedCase{{"--port=-1"}, "Invalid --port value '-1'"}));

TEST(CommandLine, LimitsAreInclusive) {
    const CommandLine cli = read_args({"--host", "h", "--token", "t", "--width", "16384", "--height", "1", "--port",
                                       "1", "--fps", "240", "--bitrate", "1000000", "--codec", "h264"});
    ASSERT_EQ(cli.action, Action::stream) << cli.error;
    EXPECT_EQ(cli.params.width, 16384);
    EXPECT_EQ(cli.params.height, 1);
    EXPECT_EQ(cli.params.port, 1);
    EXPECT_EQ(cli.params.fps, 240);
    EXPECT_EQ(cli.params.bitrate, 1000000);
}

TEST(CommandLine, UsageListsEveryOption) {
    const std::string usage = command_line_usage();
    for (const char* option : {"--host HOST", "--port PORT", "--token TOKEN", "--codec CODEC", "--fps N",
                               "--bitrate KBPS", "--width W", "--height H", "--help", "--version", "nubora://session"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace nb
