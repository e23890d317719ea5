// The committed H.264 stream both decoders are checked against, and what
// libavcodec made of it when it was recorded (see data/README).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/video/test_encoder.h"
#include "video/video_decoder.h"

namespace nb::test {

inline constexpr uint32_t k_reference_width = 320;
inline constexpr uint32_t k_reference_height = 240;
inline constexpr size_t k_reference_frames = 30;

// The access units of tests/video/data/bars_320x240_30.h264, read through
// NB_SOURCE_DIR; empty when the file is missing.
std::vector<AccessUnit> load_reference_stream();

// Splits an Annex B byte stream into access units: one starts at a
// parameter set, SEI or delimiter that follows a slice, or at a slice that
// begins a new picture (first macroblock 0).
std::vector<AccessUnit> split_access_units(const std::vector<uint8_t>& stream);

// Luma and chroma at (x, y) of the picture, whatever its layout.
struct Sample {
    uint8_t y, cb, cr;
};
Sample sample_at(const Picture& picture, uint32_t x, uint32_t y);

// FNV-1a of the visible samples, independent of layout and stride: luma
// rows, then the Cb/Cr pairs of each chroma position.
struct PictureDigest {
    uint32_t luma = 0;
    uint32_t chroma = 0;
    bool operator==(const PictureDigest&) const = default;
};
PictureDigest digest(const Picture& picture);
inline std::ostream& operator<<(std::ostream& out, const PictureDigest& d) {
    return out << std::hex << "{0x" << d.luma << "u, 0x" << d.chroma << "u}" << std::dec;
}

// What a decoder made of the reference stream, fed one access unit per
// call: the digests of the pictures in the order they came out, and any
// record of the wrong size. Decoders that hold pictures back for a call or
// two (Media Foundation's under wine) get the stream's key frame again,
// up to k_flush_inputs times, to push the last ones out; only the first
// k_reference_frames pictures are kept.
inline constexpr uint32_t k_flush_inputs = 4;
struct ReferenceRun {
    std::vector<PictureDigest> digests;
    size_t wrong_size = 0;
    // Samples of picture 20 at the centre of bar 2 and inside the moving box.
    Sample bar_sample{};
    Sample box_sample{};
};
ReferenceRun decode_reference_stream(IVideoDecoder& decoder, const std::vector<AccessUnit>& units);
// Every picture out, of the right size, with the recorded samples.
void expect_reference_pictures(const ReferenceRun& run);


// Digests of the 30 pictures as libavcodec decoded them.
extern const PictureDigest k_reference_digests[k_reference_frames];

}  // namespace nb::test
