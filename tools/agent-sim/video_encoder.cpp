// libavcodec glue for the test agent's encoder.
#include "tools/agent-sim/video_encoder.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

namespace nb {
namespace {

std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

// A long GOP instead of "infinite": both encoders accept it through the
// generic field, and at 240 fps it still lasts over an hour.
constexpr int k_endless_gop = 1 << 20;

void set_rate_control(AVCodecContext* ctx, int kbps, int fps) {
    ctx->bit_rate = static_cast<int64_t>(kbps) * 1000;
    ctx->rc_max_rate = ctx->bit_rate;
    // Four frames of buffer: small enough that the link never holds more than
    // a few frames, large enough that a requested IDR (several times a P
    // frame) is not starved into an unreadable picture.
    ctx->rc_buffer_size = static_cast<int>(std::min<int64_t>(ctx->bit_rate * 4 / std::max(1, fps), INT32_MAX));
}

}  // namespace

VideoEncoder::VideoEncoder() = default;

VideoEncoder::~VideoEncoder() { close(); }

bool VideoEncoder::open(const VideoEncoderConfig& config) {
    close();
    if (config.codec != VideoCodec::H264 && config.codec != VideoCodec::HEVC) {
        spdlog::error("VideoEncoder: codec {} has no encoder here (H.264 and HEVC only)", static_cast<int>(config.codec));
        return false;
    }
    if (config.width < 16 || config.height < 16 || config.width % 2 || config.height % 2 || config.fps < 1 ||
        config.bitrate_kbps < 1) {
        spdlog::error("VideoEncoder: unusable configuration {}x{} @{} fps, {} kbit/s", config.width, config.height,
                      config.fps, config.bitrate_kbps);
        return false;
    }
    const bool hevc = config.codec == VideoCodec::HEVC;
    const char* name = hevc ? "libx265" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr) {
        spdlog::error("VideoEncoder: encoder {} is not available in this libavcodec", name);
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (context_ == nullptr || frame_ == nullptr || packet_ == nullptr) {
        spdlog::error("VideoEncoder: out of memory");
        close();
        return false;
    }
    config_ = config;
    AVCodecContext* ctx = context_;
    ctx->width = config.width;
    ctx->height = config.height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, config.fps};
    ctx->framerate = AVRational{config.fps, 1};
    ctx->max_b_frames = 0;
    ctx->gop_size = config.idr_interval > 0 ? config.idr_interval : k_endless_gop;
    ctx->keyint_min = ctx->gop_size;
    ctx->thread_count = config.threads;
    set_rate_control(ctx, config.bitrate_kbps, config.fps);

    av_opt_set(ctx->priv_data, "preset", config.preset.c_str(), 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    // A forced I picture must be an IDR, or a client that lost the stream
    // could not start decoding from it.
    av_opt_set_int(ctx->priv_data, "forced-idr", 1, 0);
    if (hevc) {
        std::string params = "log-level=error:repeat-headers=1";
        if (config.intra_refresh) params += ":intra-refresh=1";
        av_opt_set(ctx->priv_data, "x265-params", params.c_str(), 0);
    } else if (config.intra_refresh) {
        av_opt_set_int(ctx->priv_data, "intra-refresh", 1, 0);
    }

    const int rc = avcodec_open2(ctx, codec, nullptr);
    if (rc < 0) {
        spdlog::error("VideoEncoder: opening {} for {}x{} failed: {}", name, config.width, config.height,
                      av_error_text(rc));
        close();
        return false;
    }
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = config.width;
    frame_->height = config.height;
    next_pts_ = 0;
    pending_bitrate_kbps_.store(0, std::memory_order_relaxed);
    spdlog::info("VideoEncoder: {} {}x{} @{} fps, {} kbit/s, preset {}{}", name, config.width, config.height,
                 config.fps, config.bitrate_kbps, config.preset, config.intra_refresh ? ", intra refresh" : "");
    return true;
}

void VideoEncoder::apply_pending_bitrate() {
    const int kbps = pending_bitrate_kbps_.exchange(0, std::memory_order_relaxed);
    if (kbps <= 0 || kbps == config_.bitrate_kbps) return;
    config_.bitrate_kbps = kbps;
    if (config_.codec == VideoCodec::H264) {
        // libx264 picks up rate-control changes between pictures.
        set_rate_control(context_, kbps, config_.fps);
        spdlog::info("VideoEncoder: bitrate now {} kbit/s", kbps);
        return;
    }
    // libx265 has no live reconfiguration through libavcodec: reopen, which
    // also starts the new rate with an IDR.
    const VideoEncoderConfig config = config_;
    const int64_t pts = next_pts_;
    if (open(config)) {
        next_pts_ = pts;
        spdlog::info("VideoEncoder: reopened for bitrate {} kbit/s", kbps);
    }
}

bool VideoEncoder::encode(const YuvPicture& picture, EncodedFrame& out) {
    out.bytes.clear();
    out.key = false;
    if (context_ == nullptr) {
        spdlog::error("VideoEncoder: encode called while closed");
        return false;
    }
    apply_pending_bitrate();
    if (context_ == nullptr) return false;
    if (picture.width != config_.width || picture.height != config_.height) {
        spdlog::error("VideoEncoder: picture {}x{} does not match the encoder's {}x{}", picture.width,
                      picture.height, config_.width, config_.height);
        return false;
    }
    // The planes are borrowed: the frame carries no buffer references, so
    // libavcodec copies the picture before avcodec_send_frame returns.
    frame_->data[0] = const_cast<uint8_t*>(picture.y.data());
    frame_->data[1] = const_cast<uint8_t*>(picture.u.data());
    frame_->data[2] = const_cast<uint8_t*>(picture.v.data());
    frame_->linesize[0] = picture.width;
    frame_->linesize[1] = picture.chroma_width();
    frame_->linesize[2] = picture.chroma_width();
    frame_->pts = next_pts_++;
    const bool force_idr = idr_requested_.exchange(false, std::memory_order_relaxed);
    frame_->pict_type = force_idr ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

    int rc = avcodec_send_frame(context_, frame_);
    if (rc < 0) {
        spdlog::error("VideoEncoder: send_frame failed: {}", av_error_text(rc));
        return false;
    }
    while (true) {
        rc = avcodec_receive_packet(context_, packet_);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
        if (rc < 0) {
            spdlog::error("VideoEncoder: receive_packet failed: {}", av_error_text(rc));
            return false;
        }
        out.bytes.insert(out.bytes.end(), packet_->data, packet_->data + packet_->size);
        out.key = out.key || (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        out.pts = packet_->pts;
        av_packet_unref(packet_);
    }
    if (!out.bytes.empty()) ++frames_encoded_;
    return true;
}

void VideoEncoder::close() {
    if (context_ != nullptr) {
        spdlog::info("VideoEncoder: closed ({} frames encoded)", frames_encoded_);
    }
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

}  // namespace nb
