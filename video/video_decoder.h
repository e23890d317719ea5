// The decoder seen by the session: compressed access units in, borrowed
// pictures out. Nothing here depends on the decoding library underneath.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "common/connection_params.h"

namespace nb {

// Memory layouts the renderer can upload without conversion.
enum class PixelLayout : uint8_t {
    nv12,     // plane 0: Y; plane 1: interleaved Cb/Cr at half size
    yuv420p,  // planes 0, 1, 2: Y, Cb, Cr, chroma at half size
};

// How the stream says its samples map to RGB.
enum class ColorMatrix : uint8_t { unspecified, bt601, bt709 };

// One decoded picture in CPU memory, 8 bits per sample. Plane pointers and
// strides stay valid as long as the DecodedFrame that carried it (see below).
struct Picture {
    PixelLayout layout = PixelLayout::yuv420p;
    uint32_t width = 0;   // visible size, after the stream's cropping
    uint32_t height = 0;
    std::array<const uint8_t*, 3> planes{};
    std::array<int32_t, 3> strides{};  // bytes per row of each plane
    ColorMatrix matrix = ColorMatrix::unspecified;
    bool full_range = false;
};

// What one decode call hands back. `picture` is null when the call produced
// no picture; it points into the decoder's pool of four slots and stays
// unchanged until the same slot is filled again four pictures later, or the
// pool is rebuilt, or the decoder shuts down. Use it before the next decode.
struct DecodedFrame {
    const Picture* picture = nullptr;
    uint32_t frame_id = 0;
    uint64_t decoded_at_us = 0;  // 0 when no picture
    uint32_t width = 0;          // the decoder's size when the call began
    uint32_t height = 0;
    bool keyframe = false;
};

class IVideoDecoder {
public:
    virtual ~IVideoDecoder() = default;

    // Ready to decode `codec` at about width x height (the stream may change
    // size later). Calling it again restarts the decoder from scratch.
    virtual bool initialize(VideoCodec codec, uint32_t width, uint32_t height) = 0;
    virtual DecodedFrame decode(const uint8_t* data, size_t size, uint32_t frame_id, bool keyframe) = 0;
    // Idempotent; logs one summary line when it did something.
    virtual void shutdown() = 0;
    virtual bool supports_codec(VideoCodec codec) const = 0;
    virtual std::string_view name() const = 0;

    // The callable that asks the remote encoder for an IDR frame; may be
    // empty. It runs with the decoder's lock held, so it must not call back
    // into the decoder.
    virtual void set_on_request_idr(std::function<void()> callback) = 0;
};

}  // namespace nb
