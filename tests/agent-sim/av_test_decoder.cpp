#include "tests/agent-sim/av_test_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace nb::test {

AvTestDecoder::AvTestDecoder(VideoCodec codec) {
    const AVCodec* c = avcodec_find_decoder(codec == VideoCodec::HEVC ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    context_ = avcodec_alloc_context3(c);
    context_->thread_count = 1;
    avcodec_open2(context_, c, nullptr);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
}

AvTestDecoder::~AvTestDecoder() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

std::optional<SceneStamp> AvTestDecoder::decode(std::span<const uint8_t> access_unit) {
    std::vector<uint8_t> padded(access_unit.begin(), access_unit.end());
    padded.resize(access_unit.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet_->data = padded.data();
    packet_->size = static_cast<int>(access_unit.size());
    if (avcodec_send_packet(context_, packet_) < 0) return std::nullopt;
    std::optional<SceneStamp> stamp;
    while (avcodec_receive_frame(context_, frame_) == 0) {
        width_ = frame_->width;
        stamp = TestScene::read_stamp(frame_->data[0], frame_->linesize[0], frame_->width, frame_->height);
        av_frame_unref(frame_);
    }
    return stamp;
}

}  // namespace nb::test
