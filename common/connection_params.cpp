#include "common/connection_params.h"

namespace nb {

std::string_view codec_name(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::H264: return "H.264";
        case VideoCodec::HEVC: return "HEVC";
        case VideoCodec::AV1: return "AV1";
    }
    return "unknown";
}

VideoCodec codec_from_text(std::string_view text) {
    if (text == "h265" || text == "hevc") return VideoCodec::HEVC;
    if (text == "av1") return VideoCodec::AV1;
    return VideoCodec::H264;
}

}  // namespace nb
