// A prepared H.264 or HEVC elementary stream (Annex-B) split into access
// units, for streaming real content instead of the rendered scene.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/connection_params.h"

namespace nb {

struct AccessUnit {
    std::vector<uint8_t> bytes;
    bool key = false;
};

class AnnexBFile {
public:
    // Reads and splits the whole file with libavcodec's parser. False, with
    // the cause logged, when the file cannot be read, holds no access unit,
    // or has no key frame to start from.
    bool load(const std::string& path, VideoCodec codec);

    const std::vector<AccessUnit>& units() const { return units_; }
    VideoCodec codec() const { return codec_; }

    // Index of the first key unit at or after `from`, wrapping around.
    size_t next_key(size_t from) const;

private:
    std::vector<AccessUnit> units_;
    VideoCodec codec_ = VideoCodec::H264;
};

}  // namespace nb
