// The moving picture the test agent streams: colour bars, a block that moves
// one step per frame, and a strip of large black and white cells that carries
// the frame number and the send time, so a test can read both back from a
// decoded frame or a screenshot and measure order and latency.
#pragma once

#include <cstdint>
#include <optional>

#include "tools/agent-sim/yuv_picture.h"

namespace nb {

struct SceneStamp {
    uint32_t frame_number = 0;
    // Low 32 bits of now_us() when the frame was rendered; differences are
    // meaningful modulo 2^32 (a wrap every 71 minutes).
    uint32_t send_time_us = 0;

    friend bool operator==(const SceneStamp&, const SceneStamp&) = default;
};

class TestScene {
public:
    // Width and height must be even and at least 64 x 36: below that the
    // stamp cells get too small to survive compression.
    static bool valid_size(int width, int height);

    // Draws frame `stamp.frame_number` into `picture`, (re)allocating it to
    // width x height when its size differs. A busy scene adds a band of
    // noise that changes every frame, so the encoder spends its whole
    // bitrate, as on a real desktop or game, instead of a few hundred bytes.
    static void render(YuvPicture& picture, int width, int height, const SceneStamp& stamp, bool busy = false);

    // Reads the stamp back from any 8-bit picture of the scene, also scaled:
    // the strip's geometry is proportional to the picture size. `step` is
    // the distance between pixels in bytes (1 for a luma plane, 3 or 4 for a
    // packed RGB(A) screenshot, passing a pointer to its green byte). Returns
    // nothing when the check word does not match, i.e. the picture is not the
    // scene or too damaged to trust.
    static std::optional<SceneStamp> read_stamp(const uint8_t* pixels, int stride, int width, int height,
                                                int step = 1);

    // Horizontal position of the moving block's left edge for a frame; tests
    // use it to check that the motion is really the frame's.
    static int block_x(uint32_t frame_number, int width);

private:
    static uint32_t check_word(const SceneStamp& stamp);
};

}  // namespace nb
