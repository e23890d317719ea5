// A plain libavcodec software decoder for the agent's tests: turns the
// agent's access units back into pictures so the scene stamp can be read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "app/connection_params.h"
#include "tools/agent-sim/test_scene.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace nb::test {

class AvTestDecoder {
public:
    explicit AvTestDecoder(VideoCodec codec);
    ~AvTestDecoder();
    AvTestDecoder(const AvTestDecoder&) = delete;
    AvTestDecoder& operator=(const AvTestDecoder&) = delete;

    // Decodes one access unit; the stamp of the picture it produced, if any.
    std::optional<SceneStamp> decode(std::span<const uint8_t> access_unit);
    int last_width() const { return width_; }
    int last_height() const { return height_; }

private:
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace nb::test
