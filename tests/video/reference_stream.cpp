#include "tests/video/reference_stream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace nb::test {

namespace {

// Offsets of the NAL units' first bytes after their start codes.
std::vector<size_t> nal_starts(const std::vector<uint8_t>& s) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    return starts;
}

// Where the start code before the NAL unit at `nal` begins, with the
// optional fourth zero byte.
size_t start_code_of(const std::vector<uint8_t>& s, size_t nal) {
    size_t at = nal - 3;
    if (at > 0 && s[at - 1] == 0) --at;
    return at;
}

uint32_t fnv(uint32_t h, uint8_t byte) { return (h ^ byte) * 16777619u; }

}  // namespace

std::vector<AccessUnit> split_access_units(const std::vector<uint8_t>& stream) {
    std::vector<AccessUnit> units;
    size_t unit_begin = 0;
    bool unit_has_slice = false;
    const std::vector<size_t> starts = nal_starts(stream);
    for (const size_t nal : starts) {
        if (nal >= stream.size()) break;
        const int type = stream[nal] & 0x1f;
        const bool slice = type == 1 || type == 5;
        // first_mb_in_slice is ue(v): a leading 1 bit means 0.
        const bool new_picture = slice && nal + 1 < stream.size() && (stream[nal + 1] & 0x80);
        const bool starts_unit = unit_has_slice && (new_picture || type == 6 || type == 7 || type == 8 || type == 9);
        if (starts_unit) {
            const size_t end = start_code_of(stream, nal);
            units.emplace_back(stream.begin() + static_cast<ptrdiff_t>(unit_begin),
                               stream.begin() + static_cast<ptrdiff_t>(end));
            unit_begin = end;
            unit_has_slice = false;
        }
        unit_has_slice = unit_has_slice || slice;
    }
    if (unit_begin < stream.size()) units.emplace_back(stream.begin() + static_cast<ptrdiff_t>(unit_begin), stream.end());
    return units;
}

std::vector<AccessUnit> load_reference_stream() {
    const char* root = std::getenv("NB_SOURCE_DIR");
    const std::string path = std::string(root ? root : ".") + "/tests/video/data/bars_320x240_30.h264";
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return split_access_units(bytes);
}

Sample sample_at(const Picture& p, uint32_t x, uint32_t y) {
    const uint8_t luma = p.planes[0][size_t(p.strides[0]) * y + x];
    const size_t cx = x / 2;
    const size_t cy = y / 2;
    if (p.layout == PixelLayout::nv12) {
        const uint8_t* row = p.planes[1] + size_t(p.strides[1]) * cy;
        return {luma, row[2 * cx], row[2 * cx + 1]};
    }
    return {luma, p.planes[1][size_t(p.strides[1]) * cy + cx], p.planes[2][size_t(p.strides[2]) * cy + cx]};
}

PictureDigest digest(const Picture& p) {
    PictureDigest d{2166136261u, 2166136261u};
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) d.luma = fnv(d.luma, p.planes[0][size_t(p.strides[0]) * y + x]);
    }
    for (uint32_t y = 0; y < p.height; y += 2) {
        for (uint32_t x = 0; x < p.width; x += 2) {
            const Sample s = sample_at(p, x, y);
            d.chroma = fnv(fnv(d.chroma, s.cb), s.cr);
        }
    }
    return d;
}

ReferenceRun decode_reference_stream(IVideoDecoder& decoder, const std::vector<AccessUnit>& units) {
    ReferenceRun run;
    if (units.empty()) return run;
    for (uint32_t i = 0; i < units.size() + k_flush_inputs && run.digests.size() < k_reference_frames; ++i) {
        const AccessUnit& unit = i < units.size() ? units[i] : units[0];
        const DecodedFrame f = decoder.decode(unit.data(), unit.size(), i, i == 0 || i >= units.size());
        if (!f.picture) continue;
        const Picture& p = *f.picture;
        if (p.width != k_reference_width || p.height != k_reference_height || f.width != k_reference_width ||
            f.height != k_reference_height) {
            ++run.wrong_size;
            continue;
        }
        if (run.digests.size() == 20) {
            run.bar_sample = sample_at(p, 100, 60);
            run.box_sample = sample_at(p, 95, 225);
        }
        run.digests.push_back(digest(p));
    }
    return run;
}

void expect_reference_pictures(const ReferenceRun& run) {
    EXPECT_EQ(run.wrong_size, 0u);
    ASSERT_EQ(run.digests.size(), k_reference_frames);
    for (size_t i = 0; i < run.digests.size(); ++i) EXPECT_EQ(run.digests[i], k_reference_digests[i]) << "picture " << i;
    EXPECT_NEAR(run.bar_sample.y, k_bar_luma[2], 3);
    EXPECT_NEAR(run.box_sample.y, 128, 3);
}

const PictureDigest k_reference_digests[k_reference_frames] = {
    {0xeb052761u, 0xb3a115c5u}, {0x46509549u, 0xb3a115c5u}, {0xc8b05371u, 0xb3a115c5u},
    {0x9da77272u, 0xb3a115c5u}, {0x8387831eu, 0xb3a115c5u}, {0x8d0f02c6u, 0xb3a115c5u},
    {0x51e5d609u, 0xb3a115c5u}, {0xf9f5121au, 0xb3a115c5u}, {0x29ffe4e5u, 0xb3a115c5u},
    {0x77d0860bu, 0xb3a115c5u}, {0x3e03973u, 0xb3a115c5u}, {0xd5b7df3u, 0xb3a115c5u},
    {0x30c840f3u, 0xb3a115c5u}, {0x1bafa7d5u, 0xb3a115c5u}, {0x52940c55u, 0xb3a115c5u},
    {0xa3789c55u, 0xb3a115c5u}, {0xae3a2fd5u, 0xb3a115c5u}, {0x2005a066u, 0xb3a115c5u},
    {0x78ee0fc6u, 0xb3a115c5u}, {0xb297c1a6u, 0xb3a115c5u}, {0xf254ed06u, 0xb3a115c5u},
    {0xaedb7606u, 0xb3a115c5u}, {0xc0831486u, 0xb3a115c5u}, {0x871cacb9u, 0xb3a115c5u},
    {0xea62f881u, 0xb3a115c5u}, {0x315c4689u, 0xb3a115c5u}, {0x4199b711u, 0xb3a115c5u},
    {0x1f9bc19u, 0xb3a115c5u}, {0x9111fea1u, 0xb3a115c5u}, {0x8edb5fa9u, 0xb3a115c5u},
};

}  // namespace nb::test
