// The client's own software decoder reading the scene stamp back out of the
// agent's access units, and the small encoder setup the media tests share.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "tools/agent-sim/test_scene.h"
#include "tools/agent-sim/video_encoder.h"
#include "video/libav_decoder.h"

namespace nb::test {

inline VideoEncoderConfig small_config(VideoCodec codec, int kbps) {
    VideoEncoderConfig config;
    config.codec = codec;
    config.width = 320;
    config.height = 180;
    config.fps = 30;
    config.bitrate_kbps = kbps;
    return config;
}

class SceneDecoder {
public:
    explicit SceneDecoder(VideoCodec codec) : decoder_(software()) { decoder_.initialize(codec, 320, 180); }

    // Decodes one access unit; the stamp of the picture it produced, if any.
    std::optional<SceneStamp> decode(std::span<const uint8_t> access_unit) {
        const DecodedFrame frame = decoder_.decode(access_unit.data(), access_unit.size(), ++frame_id_, false);
        if (!frame.picture) return std::nullopt;
        const Picture& picture = *frame.picture;
        width_ = static_cast<int>(picture.width);
        return TestScene::read_stamp(picture.planes[0], picture.strides[0], width_, static_cast<int>(picture.height));
    }
    int last_width() const { return width_; }

private:
    static LibavDecoder::Options software() {
        LibavDecoder::Options options;
        options.try_hardware = false;
        return options;
    }

    LibavDecoder decoder_;
    uint32_t frame_id_ = 0;
    int width_ = 0;
};

}  // namespace nb::test
