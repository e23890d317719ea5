#include "session/control_messages.h"

#include <sodium.h>
#include <spdlog/spdlog.h>

#include <stdexcept>

#include "common/log_text.h"

namespace nb {

namespace {
constexpr size_t k_session_key_bytes = 32;
}  // namespace

std::string auth_line(const ConnectionParams& params, const std::string& udp_ip) {
    // nlohmann's object keeps its members sorted, which the agent relies on
    // no more than any JSON reader, but tests and captures stay stable.
    const nlohmann::json auth = {
        {"bitrate", params.bitrate}, {"codec", codec_number(params.codec)},
        {"fps", params.fps},         {"height", params.height},
        {"token", params.token},     {"type", "auth"},
        {"udp_ip", udp_ip},          {"width", params.width},
    };
    return auth.dump() + "\n";
}

std::vector<uint8_t> decode_key(const nlohmann::json& reply, const char* member) {
    const auto it = reply.find(member);
    if (it == reply.end() || !it->is_string()) return {};
    const std::string& text = it->get_ref<const std::string&>();
    if (text.empty()) return {};
    std::vector<uint8_t> key(text.size() / 4 * 3 + 3);
    size_t key_len = 0;
    const char* end = nullptr;
    if (sodium_base642bin(key.data(), key.size(), text.data(), text.size(), nullptr, &key_len, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size()) {
        return {};
    }
    key.resize(key_len);
    return key;
}

std::string string_member(const nlohmann::json& object, const char* member) {
    const auto it = object.find(member);
    if (it == object.end()) return {};
    return it->is_string() ? it->get<std::string>() : it->dump();
}

bool read_session_ready(const std::string& line, SessionKeys& keys, std::string& refusal) {
    const nlohmann::json reply = nlohmann::json::parse(line);
    if (!reply.is_object()) throw std::runtime_error("handshake reply is not a JSON object");
    if (string_member(reply, "type") != "session_ready") {
        refusal = reply.contains("error") ? string_member(reply, "error") : "unknown";
        spdlog::error("Launcher: handshake rejected: {}", log_safe(refusal));
        return false;
    }
    keys.video = decode_key(reply, "video_key");
    keys.audio = decode_key(reply, "audio_key");
    keys.input = decode_key(reply, "input_key");
    if (keys.video.size() != k_session_key_bytes) {
        spdlog::error("Launcher: invalid video key size {}", keys.video.size());
        return false;
    }
    // Audio without its key fails packet by packet later; the stream still runs.
    if (keys.audio.size() != k_session_key_bytes) {
        spdlog::warn("Launcher: invalid audio key size {} (expected {})", keys.audio.size(), k_session_key_bytes);
    }
    return true;
}

std::string message_type(std::string_view line) {
    const nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
    if (!message.is_object()) return {};
    const auto type = message.find("type");
    if (type == message.end() || !type->is_string()) return {};
    return type->get<std::string>();
}

}  // namespace nb
