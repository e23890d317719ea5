// Command line and deep-link parsing into ConnectionParams.
#include <gtest/gtest.h>

#include <vector>

#include "app/command_line.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

bool parse_args(std::vector<const char*> args, ConnectionParams& params) {
    args.insert(args.begin(), "nubora-launcher");
    return parse_command_line(static_cast<int>(args.size()), args.data(), params);
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

TEST(CommandLine, ReadsOptionsAndReportsCompleteness) {
    ConnectionParams params;
    EXPECT_TRUE(parse_args({"--host", "h", "--token", "t", "--codec", "hevc", "--fps", "120"}, params));
    EXPECT_EQ(params.codec, VideoCodec::HEVC);
    EXPECT_EQ(params.fps, 120);

    ConnectionParams upper;
    EXPECT_TRUE(parse_args({"--host", "h", "--token", "t", "--codec", "H265"}, upper));
    EXPECT_EQ(upper.codec, VideoCodec::H264);

    ConnectionParams none;
    EXPECT_FALSE(parse_args({}, none));

    ConnectionParams host_only;
    EXPECT_FALSE(parse_args({"--host", "h"}, host_only));
    EXPECT_EQ(host_only.host, "h");
}

TEST(CommandLine, UnknownTextIsSkippedAndValuelessOptionIgnored) {
    ConnectionParams params;
    EXPECT_TRUE(parse_args({"--bogus", "--host", "h", "--token", "t"}, params));
    EXPECT_EQ(params.host, "h");

    ConnectionParams missing;
    EXPECT_FALSE(parse_args({"--host", "h", "--token"}, missing));
    EXPECT_TRUE(missing.token.empty());

    ConnectionParams equals_form;
    EXPECT_FALSE(parse_args({"--host=h", "--token=t"}, equals_form));
}

TEST(CommandLine, BadNumbersStopWithTheirLine) {
    struct Case {
        const char* option;
        const char* value;
    };
    for (const Case c : {Case{"--width", "16385"}, Case{"--height", "0"}, Case{"--fps", ""},
                         Case{"--bitrate", "1000001"}, Case{"--port", "65536"}, Case{"--port", "-1"}}) {
        test::LogCapture log;
        ConnectionParams params;
        EXPECT_FALSE(parse_args({"--host", "h", "--token", "t", c.option, c.value}, params)) << c.option;
        EXPECT_TRUE(log.contains(std::string("Invalid ") + c.option + " value '" + c.value + "'")) << c.option;
    }
    ConnectionParams size;
    EXPECT_TRUE(parse_args({"--host", "h", "--token", "t", "--width", "16384", "--height", "1", "--port", "1"}, size));
    EXPECT_EQ(size.width, 16384);
    EXPECT_EQ(size.height, 1);
    EXPECT_EQ(size.port, 1);
}

TEST(CommandLine, DeepLinkArgumentDecides) {
    ConnectionParams params;
    EXPECT_TRUE(parse_args({"--host", "h", "nubora://session?host=x&token=y", "--fps", "bad"}, params));
    EXPECT_EQ(params.host, "x");
    EXPECT_TRUE(is_connection_uri("nubora://anything"));
    EXPECT_FALSE(is_connection_uri("Nubora://session"));
    EXPECT_FALSE(is_connection_uri("nubora:/"));
}

}  // namespace
}  // namespace nb
