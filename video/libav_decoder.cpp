// Decoding of the stream's access units into a rotating pool of four pictures.
#include "video/libav_decoder.h"

#include <spdlog/spdlog.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "common/clock.h"
#include "common/logging.h"
#include "video/libav_log.h"

namespace nb {

namespace {

std::string av_error_text(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return text;
}

std::string first_render_node() {
    std::error_code ec;
    for (int minor = 128; minor < 192; ++minor) {
        const std::string path = "/dev/dri/renderD" + std::to_string(minor);
        if (std::filesystem::exists(path, ec)) return path;
    }
    return {};
}

// Only VAAPI surfaces are asked for; everything else keeps libavcodec's pick.
AVPixelFormat pick_format(AVCodecContext* ctx, const AVPixelFormat* formats) {
    if (ctx->hw_device_ctx) {
        for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
            if (*f == AV_PIX_FMT_VAAPI) return *f;
        }
    }
    return avcodec_default_get_format(ctx, formats);
}

ColorMatrix matrix_of(const AVFrame& frame) {
    switch (frame.colorspace) {
        case AVCOL_SPC_BT709:
            return ColorMatrix::bt709;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return ColorMatrix::bt601;
        default:
            return ColorMatrix::unspecified;
    }
}

Picture describe(const AVFrame& frame) {
    Picture p;
    p.layout = frame.format == AV_PIX_FMT_NV12 ? PixelLayout::nv12 : PixelLayout::yuv420p;
    p.width = static_cast<uint32_t>(frame.width);
    p.height = static_cast<uint32_t>(frame.height);
    const int planes = p.layout == PixelLayout::nv12 ? 2 : 3;
    for (int i = 0; i < planes; ++i) {
        p.planes[i] = frame.data[i];
        p.strides[i] = frame.linesize[i];
    }
    p.matrix = matrix_of(frame);
    p.full_range = frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P;
    return p;
}

bool uploadable(int format) {
    return format == AV_PIX_FMT_NV12 || format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// Gives `frame` its own buffers of the wanted shape, keeping them when they
// already fit so that steady streams allocate nothing per picture.
bool ensure_buffers(AVFrame& frame, AVPixelFormat format, int width, int height) {
    if (frame.buf[0] && frame.format == format && frame.width == width && frame.height == height &&
        av_frame_is_writable(&frame)) {
        return true;
    }
    av_frame_unref(&frame);
    frame.format = format;
    frame.width = width;
    frame.height = height;
    return av_frame_get_buffer(&frame, 0) >= 0;
}

}  // namespace

void LibavDecoder::ContextFree::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
void LibavDecoder::FrameFree::operator()(AVFrame* p) const { av_frame_free(&p); }
void LibavDecoder::PacketFree::operator()(AVPacket* p) const { av_packet_free(&p); }
void LibavDecoder::BufferFree::operator()(AVBufferRef* p) const { av_buffer_unref(&p); }
void LibavDecoder::SwsFree::operator()(SwsContext* p) const { sws_freeContext(p); }

namespace {

int slice_threads_from_environment() {
    const char* text = std::getenv("NUBORA_DECODER_THREADS");
    if (!text || !*text) return 0;
    const int threads = std::atoi(text);
    if (threads < 1 || threads > 16) {
        spdlog::warn("LibavDecoder: ignoring NUBORA_DECODER_THREADS='{}' (expected 1..16)", text);
        return 0;
    }
    return threads;
}

}  // namespace

LibavDecoder::LibavDecoder()
    : LibavDecoder(Options{.try_hardware = true,
                           .render_node = {},
                           .clock = {},
                           .slice_threads = slice_threads_from_environment()}) {}

LibavDecoder::LibavDecoder(Options options) : options_(std::move(options)) { route_libav_logs(); }

LibavDecoder::~LibavDecoder() { shutdown(); }

int64_t LibavDecoder::now() const { return options_.clock ? options_.clock() : now_us(); }

bool LibavDecoder::supports_codec(VideoCodec codec) const {
    return codec == VideoCodec::H264 || codec == VideoCodec::HEVC;
}

std::string_view LibavDecoder::name() const { return hardware_.load() ? "VAAPI" : "libavcodec"; }

void LibavDecoder::set_on_request_idr(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    on_request_idr_ = std::move(callback);
}

uint32_t LibavDecoder::decoded_frames() const {
    std::lock_guard lock(mutex_);
    return decoded_frames_;
}

uint32_t LibavDecoder::consecutive_errors() const {
    std::lock_guard lock(mutex_);
    return idr_policy_.consecutive_errors();
}

uint32_t LibavDecoder::frames_without_output() const {
    std::lock_guard lock(mutex_);
    return idr_policy_.frames_without_output();
}

bool LibavDecoder::initialize(VideoCodec codec, uint32_t width, uint32_t height) {
    std::lock_guard lock(mutex_);
    if (initialized_) shutdown_locked();
    codec_ = codec;
    width_ = width;
    height_ = height;
    hardware_ = false;
    context_.reset();
    hw_device_.reset();

    if (!supports_codec(codec)) {
        spdlog::error("LibavDecoder: unsupported codec {}", codec_number(codec));
        spdlog::error("LibavDecoder: failed to create decoder");
        return false;
    }
    const AVCodecID id = codec == VideoCodec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC;
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (!decoder) {
        spdlog::error("LibavDecoder: libavcodec has no decoder for codec {}", codec_number(codec));
        spdlog::error("LibavDecoder: failed to create decoder");
        return false;
    }
    context_.reset(avcodec_alloc_context3(decoder));
    packet_.reset(av_packet_alloc());
    received_.reset(av_frame_alloc());
    download_.reset(av_frame_alloc());
    if (!context_ || !packet_ || !received_ || !download_) {
        spdlog::error("LibavDecoder: out of memory creating the decoder");
        return false;
    }
    AVCodecContext* ctx = context_.get();
    // Frame threads add a picture of delay per thread; slice threads add none.
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    ctx->thread_type = FF_THREAD_SLICE;
    ctx->thread_count = options_.slice_threads;
    ctx->width = static_cast<int>(width);
    ctx->height = static_cast<int>(height);
    ctx->get_format = pick_format;
    if (options_.try_hardware) hardware_ = open_hardware(ctx);

    const int rc = avcodec_open2(ctx, decoder, nullptr);
    if (rc < 0) {
        spdlog::error("LibavDecoder: avcodec_open2 failed ({})", av_error_text(rc));
        spdlog::error("LibavDecoder: failed to create decoder");
        context_.reset();
        hw_device_.reset();
        hardware_ = false;
        return false;
    }

    for (Slot& slot : pool_) {
        slot.frame.reset(av_frame_alloc());
        if (!slot.frame) {
            spdlog::error("LibavDecoder: failed to create output frames");
            return false;
        }
        slot.picture = Picture{};
    }
    pool_width_ = width;
    pool_height_ = height;
    initialized_ = true;
    decoded_frames_ = 0;
    idr_policy_.reset();
    spdlog::info("LibavDecoder: initialized {}x{} codec={} ({})", width, height, codec_number(codec),
                 hardware_ ? "VAAPI" : "software");
    return true;
}

bool LibavDecoder::open_hardware(AVCodecContext* ctx) {
    bool codec_has_vaapi = false;
    for (int i = 0;; ++i) {
        const AVCodecHWConfig* config = avcodec_get_hw_config(ctx->codec, i);
        if (!config) break;
        if (config->device_type == AV_HWDEVICE_TYPE_VAAPI &&
            (config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX)) {
            codec_has_vaapi = true;
        }
    }
    if (!codec_has_vaapi) {
        spdlog::info("LibavDecoder: this libavcodec has no VAAPI decoder for the codec, decoding in software");
        return false;
    }
    const std::string node = options_.render_node.empty() ? first_render_node() : options_.render_node;
    if (node.empty()) {
        spdlog::info("LibavDecoder: no GPU render node, decoding in software");
        return false;
    }
    AVBufferRef* device = nullptr;
    const int rc = av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, node.c_str(), nullptr, 0);
    if (rc < 0) {
        spdlog::info("LibavDecoder: VAAPI unavailable on {} ({}), decoding in software", node,
                     av_error_text(rc));
        return false;
    }
    hw_device_.reset(device);
    ctx->hw_device_ctx = av_buffer_ref(device);
    return ctx->hw_device_ctx != nullptr;
}

void LibavDecoder::release_pool() {
    for (Slot& slot : pool_) {
        if (slot.frame) av_frame_unref(slot.frame.get());
        slot.picture = Picture{};
    }
}

DecodedFrame LibavDecoder::decode(const uint8_t* data, size_t size, uint32_t frame_id, bool keyframe) {
    DecodedFrame result;
    result.frame_id = frame_id;
    result.keyframe = keyframe;

    std::lock_guard lock(mutex_);
    result.width = width_;
    result.height = height_;
    if (!initialized_ || !context_) {
        if (should_log_throttled(idle_log_count_, 1, 100)) spdlog::warn("LibavDecoder: not initialized");
        return result;
    }
    const int64_t start_us = now();

    // An empty packet would put libavcodec into draining mode for good, so it
    // never reaches send_packet.
    if (!data || size == 0 || size > static_cast<size_t>(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
        note_failed_input("empty or oversized access unit");
        return result;
    }
    if (av_new_packet(packet_.get(), static_cast<int>(size)) < 0) {
        note_failed_input("out of memory for the packet");
        return result;
    }
    std::memcpy(packet_->data, data, size);
    if (keyframe) packet_->flags |= AV_PKT_FLAG_KEY;

    int rc = avcodec_send_packet(context_.get(), packet_.get());
    if (rc == AVERROR(EAGAIN)) {
        output_step(result, start_us);
        rc = avcodec_send_packet(context_.get(), packet_.get());
    }
    av_packet_unref(packet_.get());
    if (rc < 0) {
        note_failed_input(av_error_text(rc));
        return result;
    }
    output_step(result, start_us);
    apply_stall_policy(result);
    return result;
}

void LibavDecoder::note_failed_input(std::string_view reason) {
    if (should_log_throttled(input_error_log_count_, 5, 100)) {
        spdlog::error("LibavDecoder: send_packet failed ({})", reason);
    }
    carry_out(idr_policy_.input_failed(static_cast<bool>(on_request_idr_)), "LibavDecoder", on_request_idr_);
}

void LibavDecoder::apply_stall_policy(const DecodedFrame& result) {
    carry_out(idr_policy_.output(result.picture != nullptr, now()), "LibavDecoder", on_request_idr_);
}

void LibavDecoder::output_step(DecodedFrame& result, int64_t start_us) {
    AVFrame* frame = received_.get();
    const int rc = avcodec_receive_frame(context_.get(), frame);
    if (rc == AVERROR(EAGAIN)) {
        spdlog::trace("LibavDecoder: needs more input (no frame produced)");
        return;
    }
    if (rc < 0) {
        if (should_log_throttled(output_error_log_count_, 5, 100)) {
            spdlog::error("LibavDecoder: receive_frame failed ({})", av_error_text(rc));
        }
        return;
    }

    const auto w = static_cast<uint32_t>(frame->width);
    const auto h = static_cast<uint32_t>(frame->height);
    if (w != pool_width_ || h != pool_height_) {
        spdlog::info("LibavDecoder: picture size {}x{} -> {}x{}, rebuilding pool", pool_width_, pool_height_, w, h);
        release_pool();
        pool_width_ = w;
        pool_height_ = h;
        width_ = w;
        height_ = h;
    }

    if (hardware_ && frame->format != AV_PIX_FMT_VAAPI) {
        // libavcodec falls back by itself when the driver refuses the
        // stream's profile; say so once, and let name() tell the truth.
        spdlog::info("LibavDecoder: VAAPI refused the stream, decoding in software");
        hardware_ = false;
    }

    Slot& slot = pool_[pool_index_];
    pool_index_ = (pool_index_ + 1) % k_pool_size;
    const bool ok = fill_slot(slot);
    av_frame_unref(frame);
    if (!ok) return;

    result.picture = &slot.picture;
    result.decoded_at_us = static_cast<uint64_t>(now());
    ++decoded_frames_;
    spdlog::trace("LibavDecoder: decoded frame {} ({}us, key={})", result.frame_id, now() - start_us,
                  result.keyframe);
}

bool LibavDecoder::fill_slot(Slot& slot) {
    AVFrame* src = received_.get();
    AVFrame* dst = slot.frame.get();
    if (src->format == AV_PIX_FMT_VAAPI && src->hw_frames_ctx) {
        // Pictures leave the GPU once, into buffers that are kept and reused.
        const auto* frames = reinterpret_cast<const AVHWFramesContext*>(src->hw_frames_ctx->data);
        const AVPixelFormat surface = frames->sw_format;
        AVFrame* target = uploadable(surface) ? dst : download_.get();
        if (!target || !ensure_buffers(*target, surface, src->width, src->height)) {
            spdlog::error("LibavDecoder: out of memory for a downloaded picture");
            return false;
        }
        const int rc = av_hwframe_transfer_data(target, src, 0);
        if (rc < 0) {
            if (should_log_throttled(output_error_log_count_, 5, 100)) {
                spdlog::error("LibavDecoder: av_hwframe_transfer_data failed ({})", av_error_text(rc));
            }
            return false;
        }
        av_frame_copy_props(target, src);
        if (target != dst && !convert(*target, *dst)) return false;
    } else if (uploadable(src->format)) {
        // Zero copy: the slot holds a reference on libavcodec's own buffer.
        av_frame_unref(dst);
        av_frame_move_ref(dst, src);
    } else if (!convert(*src, *dst)) {
        return false;
    }
    slot.picture = describe(*dst);
    return true;
}

// High bit depth or other chroma layouts become 8-bit 4:2:0 in `dst`'s own,
// reused buffers.
bool LibavDecoder::convert(const AVFrame& src, AVFrame& dst) {
    const auto format = static_cast<AVPixelFormat>(src.format);
    SwsContext* sws = sws_getCachedContext(converter_.release(), src.width, src.height, format, src.width,
                                           src.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    converter_.reset(sws);
    if (!sws || !ensure_buffers(dst, AV_PIX_FMT_YUV420P, src.width, src.height)) {
        if (should_log_throttled(output_error_log_count_, 5, 100)) {
            spdlog::error("LibavDecoder: cannot convert {} pictures", av_get_pix_fmt_name(format));
        }
        return false;
    }
    sws_scale(sws, src.data, src.linesize, 0, src.height, dst.data, dst.linesize);
    av_frame_copy_props(&dst, &src);
    return true;
}

void LibavDecoder::shutdown() {
    std::lock_guard lock(mutex_);
    shutdown_locked();
}

void LibavDecoder::shutdown_locked() {
    if (!initialized_) return;
    context_.reset();
    release_pool();
    converter_.reset();
    download_.reset();
    hw_device_.reset();
    initialized_ = false;
    spdlog::info("LibavDecoder: shutdown (decoded {} frames)", decoded_frames_);
}

}  // namespace nb
