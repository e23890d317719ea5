// What one stream needs: agent address, session token and video settings.
// Filled by the command line, a deep link or the launcher window; read by the
// session, the decoder, the overlay and the test agent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nb {

// The number is what the handshake sends.
enum class VideoCodec : uint8_t { H264 = 0, HEVC = 1, AV1 = 2 };

struct ConnectionParams {
    std::string host;
    uint16_t port = 48001;
    std::string token;
    VideoCodec codec = VideoCodec::H264;
    int32_t fps = 60;
    int32_t bitrate = 30000;  // kbit/s
    int32_t width = 1920;
    int32_t height = 1080;

    bool complete() const { return !host.empty() && !token.empty(); }
};

inline int codec_number(VideoCodec codec) { return static_cast<int>(codec); }

// What a person reads in the log: "H.264", "HEVC", "AV1".
std::string_view codec_name(VideoCodec codec);

// "h265"/"hevc" select HEVC, "av1" AV1; every other text (there is none for
// H.264 itself) selects H.264. Case-sensitive, whole string.
VideoCodec codec_from_text(std::string_view text);

}  // namespace nb
