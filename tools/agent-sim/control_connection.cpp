// The agent's side of the control channel.
#include "tools/agent-sim/control_connection.h"

#include <asio/write.hpp>
#include <spdlog/spdlog.h>


namespace nb {
namespace {

using nlohmann::json;

// A peer that stops reading must not make the agent queue without limit.
constexpr size_t k_max_queued_messages = 1024;

// An integer member within [lo, hi]; nothing for a missing member, another
// type, a fraction or a value out of range.
std::optional<int64_t> int_member(const json& message, const char* key, int64_t lo, int64_t hi) {
    const auto it = message.find(key);
    if (it == message.end() || !it->is_number_integer()) return std::nullopt;
    int64_t v = 0;
    if (it->is_number_unsigned()) {
        const uint64_t u = it->get<uint64_t>();
        if (u > static_cast<uint64_t>(hi)) return std::nullopt;
        v = static_cast<int64_t>(u);
    } else {
        v = it->get<int64_t>();
    }
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

std::string string_member(const json& message, const char* key) {
    const auto it = message.find(key);
    return it != message.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

ControlConnection::ControlConnection(asio::ip::tcp::socket socket, uint64_t id, IControlHandler& handler,
                                     EventLog& events)
    : socket_(std::move(socket)), auth_timer_(socket_.get_executor()), id_(id), handler_(handler), events_(events) {
    asio::error_code ec;
    const auto remote = socket_.remote_endpoint(ec);
    peer_ = ec ? "?" : remote.address().to_string() + ":" + std::to_string(remote.port());
}

void ControlConnection::start() {
    asio::error_code ec;
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    spdlog::info("ControlConnection: #{} connected from {}", id_, peer_);
    events_.write("control_connected", {{"conn", id_}, {"peer", peer_}});
    auth_timer_.expires_after(std::chrono::milliseconds(k_auth_deadline_ms));
    auth_timer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
        if (!error && !self->authenticated_) self->close("no auth within the deadline");
    });
    read_more();
}

void ControlConnection::read_more() {
    if (closed_) return;
    socket_.async_read_some(asio::buffer(read_buffer_),
                            [self = shared_from_this()](const asio::error_code& error, size_t count) {
                                if (error) {
                                    self->close(error == asio::error::eof ? "peer closed" : "read error");
                                    return;
                                }
                                self->on_bytes(count);
                                self->read_more();
                            });
}

void ControlConnection::on_bytes(size_t count) {
    const bool ok = framer_.feed({read_buffer_.data(), count}, [this](std::string_view line) {
        handle_line(line);
        return !closed_;
    });
    if (!ok) {
        spdlog::warn("ControlConnection: #{} sent a line over {} bytes, closing", id_, k_max_line_bytes);
        events_.write("control_bad_line", {{"conn", id_}, {"reason", "line too long"}});
        close("line too long");
    }
}

void ControlConnection::handle_line(std::string_view line) {
    json message = json::parse(line, nullptr, false);
    if (message.is_discarded() || !message.is_object() || !message.contains("type") || !message["type"].is_string()) {
        if (++bad_lines_ <= 5 || bad_lines_ % 100 == 0) {
            spdlog::warn("ControlConnection: #{} sent a line that is not a control message ({} so far)", id_,
                         bad_lines_);
        }
        events_.write("control_bad_line", {{"conn", id_}, {"reason", "not a JSON object with a string type"}});
        if (!authenticated_) reject("expected an auth message");
        return;
    }
    const std::string type = message["type"].get<std::string>();
    if (!authenticated_) {
        if (type != "auth") {
            reject("expected an auth message");
            return;
        }
        handle_auth(message);
        return;
    }
    if (type == "ping") {
        handle_ping(message);
    } else if (type == "stats") {
        handle_stats(message);
    } else if (type == "request_idr") {
        spdlog::info("ControlConnection: #{} requested an IDR", id_);
        events_.write("request_idr", {{"conn", id_}});
        handler_.request_idr(id_);
    } else if (type == "set_settings") {
        handle_settings(message);
    } else {
        spdlog::debug("ControlConnection: #{} sent unknown message type '{}'", id_, type);
        events_.write("control_unknown", {{"conn", id_}, {"type", type}});
    }
}

void ControlConnection::handle_auth(const json& message) {
    AuthRequest request;
    json fields = {{"conn", id_}};
    // Record what arrived before judging it, so a test sees the rejected
    // auth too.
    for (const char* key : {"bitrate", "codec", "fps", "height", "token", "udp_ip", "width"}) {
        if (message.contains(key)) fields[key] = message[key];
    }
    std::string error;
    const auto codec = int_member(message, "codec", 0, 255);
    const auto fps = int_member(message, "fps", 1, 1000000);
    const auto width = int_member(message, "width", 1, 1000000);
    const auto height = int_member(message, "height", 1, 1000000);
    const auto bitrate = int_member(message, "bitrate", 1, 100000000);
    const auto token = message.find("token");
    if (token == message.end() || !token->is_string()) error = "missing token";
    else if (!codec) error = "missing or invalid codec";
    else if (!fps) error = "missing or invalid fps";
    else if (!width) error = "missing or invalid width";
    else if (!height) error = "missing or invalid height";
    else if (!bitrate) error = "missing or invalid bitrate";

    std::shared_ptr<const StreamSession> session;
    if (error.empty()) {
        request.token = token->get<std::string>();
        request.codec = static_cast<int>(*codec);
        request.fps = static_cast<int>(*fps);
        request.width = static_cast<int>(*width);
        request.height = static_cast<int>(*height);
        request.bitrate_kbps = static_cast<int>(*bitrate);
        request.udp_ip = string_member(message, "udp_ip");
        session = handler_.authenticate(id_, request, error);
    }
    fields["accepted"] = session != nullptr;
    if (session == nullptr) {
        fields["error"] = error;
        events_.write("auth", fields);
        spdlog::warn("ControlConnection: #{} auth rejected: {}", id_, error);
        reject(error);
        return;
    }
    fields["session"] = session->id;
    events_.write("auth", fields);
    authenticated_ = true;
    auth_timer_.cancel();
    // Logged before the reply goes out, so a client that has the keys can
    // rely on the record being there.
    json ready = {{"type", "session_ready"}};
    json omitted = json::array();
    struct Announced {
        const char* name;
        bool omit;
        const AeadKey& key;
    };
    for (const Announced& k : {Announced{"video_key", session->omit_video_key, session->video_key},
                               Announced{"audio_key", session->omit_audio_key, session->audio_key},
                               Announced{"input_key", session->omit_input_key, session->input_key}}) {
        if (k.omit) omitted.push_back(k.name);
        else ready[k.name] = base64_key(k.key);
    }
    events_.write("session_ready", {{"conn", id_}, {"session", session->id}, {"omitted", omitted}});
    send(ready);
    spdlog::info("ControlConnection: #{} authenticated, session {} ready ({}x{} @{} fps, {} kbit/s, codec {})", id_,
                 session->id, session->width, session->height, session->fps, session->bitrate_kbps,
                 static_cast<int>(session->codec));
}

void ControlConnection::handle_ping(const json& message) {
    json pong = {{"type", "pong"}};
    json fields = {{"conn", id_}};
    const auto ts = message.find("ts");
    if (ts != message.end() && ts->is_number_unsigned()) {
        pong["ts"] = ts->get<uint64_t>();
        fields["ts"] = ts->get<uint64_t>();
    }
    events_.write("pong", fields);
    send(pong);
}

void ControlConnection::handle_stats(const json& message) {
    json fields = {{"conn", id_}};
    for (const char* key : {"decoded_fps", "jitter_ms", "packet_loss_pct", "rtt_ms"}) {
        const auto it = message.find(key);
        if (it != message.end() && it->is_number()) fields[key] = it->get<double>();
    }
    spdlog::debug("ControlConnection: #{} stats {}", id_, fields.dump());
    events_.write("stats", fields);
}

void ControlConnection::handle_settings(const json& message) {
    SettingsRequest request;
    json fields = {{"conn", id_}};
    std::string error;
    for (const char* key : {"bitrate", "width", "height"}) {
        if (!message.contains(key)) continue;
        fields[key] = message[key];
        const auto value = int_member(message, key, 1, 100000000);
        if (!value) {
            error = std::string("invalid ") + key;
            continue;
        }
        auto& slot = std::string_view(key) == "bitrate" ? request.bitrate_kbps
                     : std::string_view(key) == "width" ? request.width
                                                         : request.height;
        slot = static_cast<int>(*value);
    }
    const bool applied = error.empty() && handler_.apply_settings(id_, request, error);
    fields["applied"] = applied;
    if (!applied) {
        fields["error"] = error;
        spdlog::warn("ControlConnection: #{} settings not applied: {}", id_, error);
    }
    events_.write("set_settings", fields);
}

void ControlConnection::reject(const std::string& error) {
    send({{"type", "error"}, {"error", error}});
    close_after_write_ = true;
}

void ControlConnection::send(const json& message) {
    if (closed_) return;
    if (write_queue_.size() >= k_max_queued_messages) {
        spdlog::warn("ControlConnection: #{} does not read its messages, closing", id_);
        close("peer not reading");
        return;
    }
    write_queue_.push_back(message.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
    if (!writing_) write_next();
}

void ControlConnection::write_next() {
    if (closed_) return;
    if (write_queue_.empty()) {
        writing_ = false;
        if (close_after_write_) close("rejected");
        return;
    }
    writing_ = true;
    asio::async_write(socket_, asio::buffer(write_queue_.front()),
                      [self = shared_from_this()](const asio::error_code& error, size_t) {
                          if (error) {
                              self->close("write error");
                              return;
                          }
                          self->write_queue_.pop_front();
                          self->write_next();
                      });
}

void ControlConnection::close(const char* reason) {
    if (closed_) return;
    closed_ = true;
    auth_timer_.cancel();
    asio::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    spdlog::info("ControlConnection: #{} closed ({})", id_, reason);
    events_.write("control_closed", {{"conn", id_}, {"reason", reason}});
    handler_.connection_closed(id_);
}

}  // namespace nb
