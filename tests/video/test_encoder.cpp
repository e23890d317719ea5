// Test pictures: eight grey bars and a small box moving one step per picture.
#include "tests/video/test_encoder.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace nb::test {

struct TestEncoder::State {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t next_pts = 0;
    TestEncoder::Scene scene = TestEncoder::Scene::bars;
    std::vector<uint8_t> noise;  // twice the picture's width and height

    ~State() {
        avcodec_free_context(&ctx);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
};

TestEncoder::TestEncoder(VideoCodec codec, int width, int height, int gop, Scene scene, int64_t bit_rate,
                         bool full_chroma)
    : state_(std::make_unique<State>()) {
    state_->scene = scene;
    if (scene == Scene::panning) {
        state_->noise.resize(size_t(width) * 2 * height * 2);
        uint32_t seed = 12345;
        for (uint8_t& v : state_->noise) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<uint8_t>(16 + (seed >> 24) % 220);
        }
    }
    const AVCodec* encoder = avcodec_find_encoder_by_name(codec == VideoCodec::HEVC ? "libx265" : "libx264");
    if (!encoder) return;
    AVCodecContext* ctx = avcodec_alloc_context3(encoder);
    ctx->width = width;
    ctx->height = height;
    const AVPixelFormat format = full_chroma ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    ctx->pix_fmt = format;
    ctx->time_base = AVRational{1, 60};
    ctx->framerate = AVRational{60, 1};
    ctx->gop_size = gop;
    ctx->max_b_frames = 0;
    ctx->bit_rate = bit_rate;
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    if (codec == VideoCodec::HEVC) av_opt_set(ctx->priv_data, "x265-params", "log-level=error", 0);
    if (avcodec_open2(ctx, encoder, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return;
    }
    state_->ctx = ctx;
    state_->frame = av_frame_alloc();
    state_->packet = av_packet_alloc();
    state_->frame->format = format;
    state_->frame->width = width;
    state_->frame->height = height;
    if (av_frame_get_buffer(state_->frame, 0) < 0) avcodec_free_context(&state_->ctx);
}

TestEncoder::~TestEncoder() = default;

bool TestEncoder::ok() const { return state_->ctx != nullptr; }

std::vector<AccessUnit> TestEncoder::encode(int count) {
    std::vector<AccessUnit> units;
    if (!ok()) return units;
    AVFrame* f = state_->frame;
    for (int n = 0; n < count; ++n) {
        if (av_frame_make_writable(f) < 0) break;
        const int64_t pts = state_->next_pts++;
        const bool panning = state_->scene == Scene::panning;
        const int dx = static_cast<int>(pts * 7 % f->width);
        const int dy = static_cast<int>(pts * 3 % f->height);
        for (int y = 0; y < f->height; ++y) {
            uint8_t* row = f->data[0] + y * f->linesize[0];
            const uint8_t* noise = panning ? &state_->noise[size_t(y + dy) * 2 * f->width + dx] : nullptr;
            for (int x = 0; x < f->width; ++x) {
                row[x] = panning && y > f->height / 4 ? noise[x] : k_bar_luma[x * 8 / f->width];
            }
        }
        const int box = f->height / 8;
        const int bx = static_cast<int>(pts * 4 % (f->width - box));
        for (int y = f->height - box; y < f->height; ++y) std::memset(f->data[0] + y * f->linesize[0] + bx, 128, box);
        const bool full = f->format == AV_PIX_FMT_YUV444P;
        const int cw = full ? f->width : (f->width + 1) / 2;
        const int ch = full ? f->height : (f->height + 1) / 2;
        for (int p = 1; p < 3; ++p) {
            for (int y = 0; y < ch; ++y) std::memset(f->data[p] + y * f->linesize[p], 128, cw);
        }
        f->pts = pts;
        if (avcodec_send_frame(state_->ctx, f) < 0) break;
        while (avcodec_receive_packet(state_->ctx, state_->packet) == 0) {
            units.emplace_back(state_->packet->data, state_->packet->data + state_->packet->size);
            av_packet_unref(state_->packet);
        }
    }
    return units;
}

}  // namespace nb::test
