#include "tools/agent-sim/annexb_file.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <fstream>
#include <iterator>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace nb {

bool AnnexBFile::load(const std::string& path, VideoCodec codec) {
    units_.clear();
    codec_ = codec;
    if (codec != VideoCodec::H264 && codec != VideoCodec::HEVC) {
        spdlog::error("AnnexBFile: only H.264 and HEVC files can be streamed");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        spdlog::error("AnnexBFile: cannot open {}", path);
        return false;
    }
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const AVCodecID id = codec == VideoCodec::HEVC ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    const AVCodec* decoder = avcodec_find_decoder(id);
    AVCodecParserContext* parser = av_parser_init(id);
    AVCodecContext* context = decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr;
    if (parser == nullptr || context == nullptr) {
        spdlog::error("AnnexBFile: no parser for this codec in libavcodec");
        if (parser != nullptr) av_parser_close(parser);
        avcodec_free_context(&context);
        return false;
    }
    const uint8_t* at = data.data();
    size_t left = data.size();
    bool flushing = false;
    while (true) {
        uint8_t* out = nullptr;
        int out_size = 0;
        const int used = av_parser_parse2(parser, context, &out, &out_size, flushing ? nullptr : at,
                                          flushing ? 0 : static_cast<int>(std::min<size_t>(left, 1 << 20)),
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) break;
        if (!flushing) {
            at += used;
            left -= static_cast<size_t>(used);
        }
        if (out_size > 0) units_.push_back({std::vector<uint8_t>(out, out + out_size), parser->key_frame == 1});
        if (flushing) {
            if (out_size == 0) break;
        } else if (left == 0) {
            flushing = true;
        }
    }
    av_parser_close(parser);
    avcodec_free_context(&context);
    if (units_.empty()) {
        spdlog::error("AnnexBFile: {} holds no access unit", path);
        return false;
    }
    bool any_key = false;
    for (const auto& unit : units_) any_key = any_key || unit.key;
    if (!any_key) {
        spdlog::error("AnnexBFile: {} has no key frame a client could start from", path);
        units_.clear();
        return false;
    }
    spdlog::info("AnnexBFile: {} has {} access units", path, units_.size());
    return true;
}

size_t AnnexBFile::next_key(size_t from) const {
    for (size_t i = 0; i < units_.size(); ++i) {
        const size_t at = (from + i) % units_.size();
        if (units_[at].key) return at;
    }
    return 0;
}

}  // namespace nb
