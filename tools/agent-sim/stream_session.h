// One authenticated client: its keys, the video it asked for, and the nonce
// prefixes of its two media streams. Immutable once made; a new "auth"
// makes a new session.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "common/connection_params.h"
#include "net/input_crypto.h"

namespace nb {

struct StreamSession {
    uint64_t id = 0;
    AeadKey video_key{};
    AeadKey audio_key{};
    AeadKey input_key{};
    uint32_t video_nonce_prefix = 0;
    uint32_t audio_nonce_prefix = 0;

    VideoCodec codec = VideoCodec::H264;
    int width = 0;
    int height = 0;
    int fps = 0;
    int bitrate_kbps = 0;

    // Keys the agent keeps to itself in "session_ready" (test option).
    bool omit_video_key = false;
    bool omit_audio_key = false;
    bool omit_input_key = false;

    // Fresh random keys and prefixes from libsodium's generator.
    static std::shared_ptr<StreamSession> create(uint64_t id);
};

// Standard Base64 ("+", "/", "=" padding) as the "session_ready" keys use.
std::string base64_key(const AeadKey& key);

}  // namespace nb
