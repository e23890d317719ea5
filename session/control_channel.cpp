// The agent control channel: the authenticating handshake and the queue of
// outgoing control messages (one compact JSON object per line).
#include <nlohmann/json.hpp>
#include <sodium.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <istream>
#include <stdexcept>

#include "session/launcher.h"

namespace nb {

namespace {

constexpr size_t k_session_key_bytes = 32;

struct StepOutcome {
    asio::error_code error;
    bool timed_out = false;

    bool ok() const { return !error && !timed_out; }
    const char* verdict() const { return timed_out ? "timed out" : "failed"; }
    std::string text() const { return error.message(); }
};

// Runs one asynchronous step on the calling thread with a deadline beside it.
// `start` begins the operation and must call the handler it is given exactly
// once; `cancel` aborts the operation when the deadline passes first.
template <typename Start, typename Cancel>
StepOutcome run_step(asio::io_context& io, int64_t timeout_ms, Start&& start, Cancel&& cancel) {
    io.restart();
    StepOutcome outcome;
    bool finished = false;
    asio::steady_timer deadline(io, std::chrono::milliseconds(timeout_ms));
    deadline.async_wait([&](const asio::error_code& error) {
        if (!error && !finished) {
            outcome.timed_out = true;
            outcome.error = asio::error::timed_out;
            cancel();
        }
    });
    start([&](const asio::error_code& error) {
        finished = true;
        if (!outcome.timed_out) outcome.error = error;
        deadline.cancel();
    });
    io.run();
    return outcome;
}

// Standard base64 with padding; anything else (line breaks, the URL-safe
// alphabet, trailing junk) gives an empty key.
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

}  // namespace

bool Launcher::tcp_handshake(const ConnectionParams& params) {
    try {
        // 1. Resolve.
        asio::ip::tcp::resolver resolver(io_context_);
        asio::ip::tcp::resolver::results_type endpoints;
        const std::string port_text = std::to_string(params.port);
        const StepOutcome resolved = run_step(
            io_context_, tuning_.step_timeout_ms,
            [&](auto done) {
                resolver.async_resolve(params.host, port_text,
                                       [&, done](const asio::error_code& error, auto results) {
                                           endpoints = results;
                                           done(error);
                                       });
            },
            [&] { resolver.cancel(); });
        if (!resolved.ok() || endpoints.empty()) {
            spdlog::error("Launcher: DNS resolve {}:{} {} ({})", params.host, params.port,
                          resolved.ok() ? "failed" : resolved.verdict(),
                          resolved.ok() ? std::string("no addresses") : resolved.text());
            return false;
        }

        // 2. Connect, with a fresh socket per attempt.
        for (int attempt = 1;; ++attempt) {
            control_socket_ = std::make_shared<asio::ip::tcp::socket>(io_context_);
            auto socket = control_socket_;
            const StepOutcome connected = run_step(
                io_context_, tuning_.step_timeout_ms,
                [&](auto done) {
                    asio::async_connect(*socket, endpoints,
                                        [done](const asio::error_code& error, const auto&) { done(error); });
                },
                [&] {
                    asio::error_code ignored;
                    socket->close(ignored);
                });
            if (connected.ok()) break;
            spdlog::warn("Launcher: TCP connect attempt {}/{} failed: {} — retrying in {}ms", attempt,
                         tuning_.connect_attempts, connected.text(), tuning_.connect_retry_pause_ms);
            if (attempt >= tuning_.connect_attempts) throw std::runtime_error(connected.text());
            std::this_thread::sleep_for(std::chrono::milliseconds(tuning_.connect_retry_pause_ms));
        }

        // 3. Small control messages must not wait for Nagle.
        asio::error_code option_error;
        control_socket_->set_option(asio::ip::tcp::no_delay(true), option_error);
        if (option_error) throw std::runtime_error("set_option: " + option_error.message());

        // 4. The local address is what the agent learns as our UDP address.
        std::string udp_ip;
        asio::error_code address_error;
        const auto local = control_socket_->local_endpoint(address_error);
        if (!address_error) {
            udp_ip = local.address().to_string();
            spdlog::info("Launcher: local UDP IP = {} (will be sent to agent)", udp_ip);
        }

        // 5. Authenticate. The JSON object keeps its members sorted by key.
        const nlohmann::json auth = {
            {"bitrate", params.bitrate}, {"codec", codec_number(params.codec)},
            {"fps", params.fps},         {"height", params.height},
            {"token", params.token},     {"type", "auth"},
            {"udp_ip", udp_ip},          {"width", params.width},
        };
        const std::string auth_line = auth.dump() + "\n";
        const StepOutcome written = run_step(
            io_context_, tuning_.step_timeout_ms,
            [&](auto done) {
                asio::async_write(*control_socket_, asio::buffer(auth_line),
                                  [done](const asio::error_code& error, size_t) { done(error); });
            },
            [&] { control_socket_->cancel(); });
        if (!written.ok()) {
            spdlog::error("Launcher: auth write {} ({})", written.verdict(), written.text());
            return false;
        }
        spdlog::debug("Launcher: sent auth message");

        // 6. One reply line, bounded so a peer cannot make us buffer without end.
        asio::streambuf reply_buffer(tuning_.max_control_line_bytes);
        const StepOutcome read = run_step(
            io_context_, tuning_.step_timeout_ms,
            [&](auto done) {
                asio::async_read_until(*control_socket_, reply_buffer, '\n',
                                       [done](const asio::error_code& error, size_t) { done(error); });
            },
            [&] { control_socket_->cancel(); });
        if (!read.timed_out && read.error == asio::error::not_found) {
            spdlog::error("Launcher: handshake read failed (line too long)");
            return false;
        }
        if (!read.ok()) {
            spdlog::error("Launcher: handshake read {} ({})", read.verdict(), read.text());
            return false;
        }

        // 7. Parse the first line; whatever followed it is dropped.
        std::istream reply_stream(&reply_buffer);
        std::string line;
        std::getline(reply_stream, line);
        const nlohmann::json reply = nlohmann::json::parse(line);
        if (!reply.is_object()) throw std::runtime_error("handshake reply is not a JSON object");

        // 8. Anything but session_ready is a refusal.
        if (string_member(reply, "type") != "session_ready") {
            const std::string reason = reply.contains("error") ? string_member(reply, "error") : "unknown";
            spdlog::error("Launcher: handshake rejected: {}", reason);
            return false;
        }

        // 9-11. Keys.
        video_key_ = decode_key(reply, "video_key");
        audio_key_ = decode_key(reply, "audio_key");
        input_key_ = decode_key(reply, "input_key");
        if (video_key_.size() != k_session_key_bytes) {
            spdlog::error("Launcher: invalid video key size {}", video_key_.size());
            return false;
        }
        if (audio_key_.size() != k_session_key_bytes) {
            spdlog::warn("Launcher: invalid audio key size {} (expected {})", audio_key_.size(),
                         k_session_key_bytes);
        }
        control_open_.store(true);
        spdlog::info("Launcher: TCP handshake complete, session ready (keys: video={}, audio={}, input={})",
                     video_key_.size(), audio_key_.size(), input_key_.size());
        return true;
    } catch (const std::exception& e) {
        spdlog::error("Launcher: TCP handshake exception: {}", e.what());
        return false;
    }
}

void Launcher::send_control(const std::string& json_text) {
    if (control_closed_.load() || !control_open_.load()) return;
    auto message = std::make_shared<const std::string>(json_text + "\n");
    asio::post(strand_, [this, message] { enqueue_control(message); });
}

void Launcher::enqueue_control(std::shared_ptr<const std::string> message) {
    if (write_queue_.size() >= tuning_.control_queue_capacity) {
        // The head may be in flight; its bytes must stay put until the write
        // completes, so the oldest waiting message goes instead.
        const auto victim = writing_ && write_queue_.size() > 1 ? write_queue_.begin() + 1 : write_queue_.begin();
        write_queue_.erase(victim);
        const uint64_t dropped = dropped_control_messages_.fetch_add(1) + 1;
        if (dropped == 1 || dropped % tuning_.control_queue_capacity == 0) {
            spdlog::warn("Launcher: control write queue full — dropped oldest (total={})", dropped);
        }
    }
    write_queue_.push_back(std::move(message));
    if (!writing_) start_control_write();
}

void Launcher::start_control_write() {
    if (!control_socket_ || !control_socket_->is_open()) return;
    if (write_queue_.empty()) {
        writing_ = false;
        return;
    }
    writing_ = true;
    auto head = write_queue_.front();
    // asio writes in pieces of at most 64 KiB until the whole message is out.
    asio::async_write(*control_socket_, asio::buffer(*head),
                      asio::bind_executor(strand_, [this, head](const asio::error_code& error, size_t) {
                          on_control_written(error);
                      }));
}

void Launcher::on_control_written(const asio::error_code& error) {
    if (!error) {
        if (!write_queue_.empty()) write_queue_.pop_front();
        start_control_write();
        return;
    }
    if (!control_closed_.exchange(true)) {
        spdlog::warn("Launcher: control message send error: {}", error.message());
    }
    write_queue_.clear();
    writing_ = false;
    control_open_.store(false);
    asio::error_code ignored;
    control_socket_->close(ignored);
}

}  // namespace nb
