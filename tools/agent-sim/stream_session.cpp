#include "tools/agent-sim/stream_session.h"

#include <sodium.h>

namespace nb {

std::shared_ptr<StreamSession> StreamSession::create(uint64_t id) {
    auto session = std::make_shared<StreamSession>();
    session->id = id;
    randombytes_buf(session->video_key.data(), session->video_key.size());
    randombytes_buf(session->audio_key.data(), session->audio_key.size());
    randombytes_buf(session->input_key.data(), session->input_key.size());
    session->video_nonce_prefix = randombytes_random();
    session->audio_nonce_prefix = randombytes_random();
    return session;
}

std::string base64_key(const AeadKey& key) {
    std::string text(sodium_base64_ENCODED_LEN(key.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), key.data(), key.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

}  // namespace nb
