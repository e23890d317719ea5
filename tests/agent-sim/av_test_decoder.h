// A plain libavcodec software decoder that reads the scene stamp back out of
// the agent's access units, and the small encoder setup the media tests share.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/connection_params.h"
#include "tools/agent-sim/test_scene.h"
#include "tools/agent-sim/video_encoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

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

class AvTestDecoder {
public:
    explicit AvTestDecoder(VideoCodec codec);
    ~AvTestDecoder();
    AvTestDecoder(const AvTestDecoder&) = delete;
    AvTestDecoder& operator=(const AvTestDecoder&) = delete;

    // Decodes one access unit; the stamp of the picture it produced, if any.
    std::optional<SceneStamp> decode(std::span<const uint8_t> access_unit);
    int last_width() const { return width_; }

private:
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int width_ = 0;
};

}  // namespace nb::test
