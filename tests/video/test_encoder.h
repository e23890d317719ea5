// Short H.264 and HEVC streams for the decoder tests, made with libavcodec's
// libx264 and libx265 encoders in their low-latency settings.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/connection_params.h"

namespace nb::test {

using AccessUnit = std::vector<uint8_t>;

// Luma of the eight vertical bars every test picture shows, left to right.
inline constexpr uint8_t k_bar_luma[8] = {235, 210, 170, 145, 106, 81, 41, 16};

class TestEncoder {
public:
    enum class Scene {
        bars,      // eight grey bars and a small moving box, mostly static
        panning,   // fine noise scrolling under the bars, every block moves
    };

    // Streams start with an IDR picture; later ones come every `gop` pictures.
    // `full_chroma` encodes 4:4:4, which the decoder has to convert.
    TestEncoder(VideoCodec codec, int width, int height, int gop = 120, Scene scene = Scene::bars,
                int64_t bit_rate = 2'000'000, bool full_chroma = false);
    ~TestEncoder();
    TestEncoder(const TestEncoder&) = delete;
    TestEncoder& operator=(const TestEncoder&) = delete;

    bool ok() const;
    // One access unit (Annex B) per picture; the encoder runs without delay.
    std::vector<AccessUnit> encode(int count);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace nb::test
