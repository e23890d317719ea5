// Zero-latency H.264/HEVC encoding of the test scene with libavcodec (libx264,
// libx265): no B-frames, no lookahead, one access unit out per picture in,
// Annex-B with parameter sets in front of every key frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/connection_params.h"
#include "tools/agent-sim/yuv_picture.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace nb {

struct VideoEncoderConfig {
    VideoCodec codec = VideoCodec::H264;
    int width = 1920;
    int height = 1080;
    int fps = 60;
    int bitrate_kbps = 30000;
    std::string preset = "ultrafast";
    // Frames between periodic IDRs; 0 gives an IDR only at the start and on
    // request, which is how a low-latency stream usually runs.
    int idr_interval = 0;
    // Spreads intra blocks over the frames instead of sending IDRs; the first
    // frame and requested IDRs are still full key frames.
    bool intra_refresh = false;
    int threads = 0;  // 0 lets the codec choose
};

struct EncodedFrame {
    std::vector<uint8_t> bytes;  // one Annex-B access unit
    bool key = false;
    int64_t pts = 0;
};

class VideoEncoder {
public:
    VideoEncoder();
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Opens (or reopens with) a configuration. False, with the cause logged,
    // for a codec without an encoder here (AV1) or a refused configuration.
    bool open(const VideoEncoderConfig& config);
    bool is_open() const { return context_ != nullptr; }
    const VideoEncoderConfig& config() const { return config_; }

    // Encodes one picture of the configured size. On success `out` holds the
    // access unit (empty only if the codec held the picture back). False on
    // an encoder error or a picture of the wrong size.
    bool encode(const YuvPicture& picture, EncodedFrame& out);

    // Both are safe from any thread; they take effect at the next encode.
    void request_idr() { idr_requested_.store(true, std::memory_order_relaxed); }
    void set_bitrate(int kbps) { pending_bitrate_kbps_.store(kbps, std::memory_order_relaxed); }

    uint64_t frames_encoded() const { return frames_encoded_; }
    void close();

private:
    void apply_pending_bitrate();

    VideoEncoderConfig config_;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t next_pts_ = 0;
    uint64_t frames_encoded_ = 0;
    std::atomic<bool> idr_requested_{false};
    std::atomic<int> pending_bitrate_kbps_{0};
};

}  // namespace nb
