// The agent control connection: a cancellable handshake driven on the
// connecting thread, then every read and write on one strand.
#include "session/control_channel.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "common/log_text.h"
#include "session/control_messages.h"

namespace nb {

namespace {

// How long close() waits for the strand to shut the socket before it gives
// up; the owner then stops the context and the destructor closes it.
constexpr auto k_close_wait = std::chrono::milliseconds(500);

asio::ip::tcp::resolver::results_type system_resolve(const std::string& host, const std::string& port,
                                                     asio::error_code& error) {
    asio::io_context io;
    asio::ip::tcp::resolver resolver(io);
    return resolver.resolve(host, port, error);
}

// A name lookup on a helper thread. getaddrinfo cannot be interrupted, so a
// cancelled lookup is abandoned: the thread finishes on its own and its
// result goes nowhere.
struct PendingLookup {
    std::mutex lock;  // guards abandoned, and the hand-over of the result
    bool abandoned = false;
};

std::string address(const ConnectionParams& params) {
    return log_safe(params.host, 128) + ":" + std::to_string(params.port);
}

}  // namespace

struct ControlChannel::StepOutcome {
    asio::error_code error;
    bool timed_out = false;
    bool cancelled = false;

    bool ok() const { return !error && !timed_out && !cancelled; }
    const char* verdict() const { return timed_out ? "timed out" : "failed"; }
    std::string text() const { return error.message(); }
};

ControlChannel::ControlChannel(asio::io_context& io, ControlTuning tuning, HostResolver resolver)
    : io_(io),
      tuning_(tuning),
      resolver_(resolver ? std::move(resolver) : HostResolver(system_resolve)),
      strand_(asio::make_strand(io)),
      read_buffer_(tuning.max_line_bytes),
      resume_reading_(strand_),
      flood_log_(tuning.line_window_ms * 1000) {}

ControlChannel::~ControlChannel() {
    // By now no thread serves the context, so nothing races the close.
    open_.store(false);
    if (socket_ && socket_->is_open()) {
        asio::error_code ignored;
        socket_->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_->close(ignored);
    }
}

void ControlChannel::report(const std::string& status) {
    if (progress_) progress_(status);
}

void ControlChannel::give_advice(std::string advice) {
    // Every piece of outside text in it was made safe where it was built.
    spdlog::error("ControlChannel: {}", advice);
    advice_ = std::move(advice);
}

void ControlChannel::cancel_handshake() {
    cancelled_.store(true);
    // Runs inside the step the connecting thread is driving, or at the start
    // of its next one; after the handshake it finds nothing to abort.
    asio::post(io_, [this] {
        if (abort_step_) abort_step_();
    });
}

// Runs one asynchronous step on the calling thread with a deadline beside it.
// `start` begins the operation and must call the handler it is given exactly
// once; `cancel` aborts the operation when the deadline or a cancel comes first.
template <typename Start, typename Cancel>
ControlChannel::StepOutcome ControlChannel::run_step(int64_t timeout_ms, Start&& start, Cancel&& cancel) {
    StepOutcome outcome;
    if (cancelled_.load()) {
        outcome.cancelled = true;
        return outcome;
    }
    io_.restart();
    bool finished = false;
    asio::steady_timer deadline(io_, std::chrono::milliseconds(timeout_ms));
    auto give_up = [&](bool timed_out) {
        if (finished || outcome.timed_out || outcome.cancelled) return;
        (timed_out ? outcome.timed_out : outcome.cancelled) = true;
        outcome.error = timed_out ? asio::error::timed_out : asio::error::operation_aborted;
        cancel();
    };
    abort_step_ = [&] {
        give_up(false);
        deadline.cancel();
    };
    deadline.async_wait([&](const asio::error_code& error) {
        if (!error) give_up(true);
    });
    start([&](const asio::error_code& error) {
        finished = true;
        if (!outcome.timed_out && !outcome.cancelled) outcome.error = error;
        deadline.cancel();
    });
    io_.run();
    abort_step_ = nullptr;
    return outcome;
}

bool ControlChannel::handshake(const ConnectionParams& params, SessionKeys& keys) {
    advice_.clear();
    try {
        asio::ip::tcp::resolver::results_type endpoints;
        return resolve(params, endpoints) && connect_socket(params, endpoints) && authenticate(params, keys);
    } catch (const std::exception& e) {
        spdlog::error("Launcher: TCP handshake exception: {}", log_safe(e.what()));
        give_advice(address(params) + " did not answer as an agent. Check the port.");
        return false;
    }
}

bool ControlChannel::resolve(const ConnectionParams& params, asio::ip::tcp::resolver::results_type& endpoints) {
    report("Looking up " + params.host);
    const std::string port_text = std::to_string(params.port);
    auto pending = std::make_shared<PendingLookup>();
    const StepOutcome resolved = run_step(
        tuning_.step_timeout_ms,
        [&](auto done) {
            // The thread owns copies of all it needs: the channel may be gone
            // by the time a stuck lookup returns.
            std::thread([&io = io_, resolver = resolver_, pending, done, &endpoints, host = params.host, port_text] {
                asio::error_code error;
                auto results = resolver(host, port_text, error);
                std::lock_guard lock(pending->lock);
                if (pending->abandoned) return;
                // The step waits for this hand-over, so the context, `endpoints`
                // and `done` are all still there.
                asio::post(io, [&endpoints, done, results = std::move(results), error] {
                    endpoints = results;
                    done(error);
                });
            }).detach();
        },
        [&] {
            std::lock_guard lock(pending->lock);
            pending->abandoned = true;
        });
    if (resolved.cancelled) return false;
    if (!resolved.ok() || endpoints.empty()) {
        spdlog::error("Launcher: DNS resolve {}:{} {} ({})", log_safe(params.host), params.port,
                      resolved.ok() ? "failed" : resolved.verdict(),
                      resolved.ok() ? std::string("no addresses") : resolved.text());
        give_advice("Cannot find the PC '" + log_safe(params.host, 128) + "'. Check the host name.");
        return false;
    }
    return true;
}

bool ControlChannel::connect_socket(const ConnectionParams& params,
                                    const asio::ip::tcp::resolver::results_type& endpoints) {
    for (int attempt = 1;; ++attempt) {
        report("Connecting to " + address(params) + ", attempt " +
               std::to_string(attempt) + " of " + std::to_string(tuning_.connect_attempts));
        socket_ = std::make_shared<asio::ip::tcp::socket>(io_);
        auto socket = socket_;
        const StepOutcome connected = run_step(
            tuning_.step_timeout_ms,
            [&](auto done) {
                asio::async_connect(*socket, endpoints,
                                    [done](const asio::error_code& error, const auto&) { done(error); });
            },
            [&] {
                asio::error_code ignored;
                socket->close(ignored);
            });
        if (connected.cancelled) return false;
        if (connected.ok()) break;
        spdlog::warn("Launcher: TCP connect attempt {}/{} failed: {} — retrying in {}ms", attempt,
                     tuning_.connect_attempts, connected.text(), tuning_.connect_retry_pause_ms);
        if (attempt >= tuning_.connect_attempts) {
            spdlog::error("Launcher: TCP handshake exception: {}", connected.text());
            give_advice("No connection to " + address(params) + ". Check the host and port, and that the "
                        "agent is running on that PC.");
            return false;
        }
        if (!pause_before_retry()) return false;
    }
    // Small control messages must not wait for Nagle.
    asio::error_code option_error;
    socket_->set_option(asio::ip::tcp::no_delay(true), option_error);
    if (option_error) throw std::runtime_error("set_option: " + option_error.message());
    return true;
}

bool ControlChannel::pause_before_retry() {
    asio::steady_timer pause(io_, std::chrono::milliseconds(tuning_.connect_retry_pause_ms));
    const StepOutcome waited = run_step(
        tuning_.connect_retry_pause_ms + tuning_.step_timeout_ms,
        [&](auto done) { pause.async_wait([done](const asio::error_code& error) { done(error); }); },
        [&] { pause.cancel(); });
    return waited.ok();
}

bool ControlChannel::authenticate(const ConnectionParams& params, SessionKeys& keys) {
    // The local address is what the agent learns as our UDP address.
    std::string udp_ip;
    asio::error_code address_error;
    const auto local = socket_->local_endpoint(address_error);
    if (!address_error) {
        udp_ip = local.address().to_string();
        spdlog::info("Launcher: local UDP IP = {} (will be sent to agent)", udp_ip);
    }

    report("Connected to " + address(params) + ", waiting for the PC to answer");
    const std::string line = auth_line(params, udp_ip);
    auto socket = socket_;
    const StepOutcome written = run_step(
        tuning_.step_timeout_ms,
        [&](auto done) {
            asio::async_write(*socket, asio::buffer(line), [done](const asio::error_code& error, size_t) { done(error); });
        },
        [&] { socket->cancel(); });
    if (written.cancelled) return false;
    if (!written.ok()) {
        spdlog::error("Launcher: auth write {} ({})", written.verdict(), written.text());
        return false;
    }
    spdlog::debug("Launcher: sent auth message");

    // One reply line, bounded so a peer cannot make us buffer without end.
    // Whatever follows it stays in the buffer for the reader.
    const StepOutcome read = run_step(
        tuning_.step_timeout_ms,
        [&](auto done) {
            asio::async_read_until(*socket, read_buffer_, '\n',
                                   [done](const asio::error_code& error, size_t) { done(error); });
        },
        [&] { socket->cancel(); });
    if (read.cancelled) return false;
    if (!read.timed_out && read.error == asio::error::not_found) {
        spdlog::error("Launcher: handshake read failed (line too long)");
        return false;
    }
    if (!read.ok()) {
        spdlog::error("Launcher: handshake read {} ({})", read.verdict(), read.text());
        give_advice(address(params) + " did not answer as an agent. Check the port, and that the agent is "
                    "running on that PC.");
        return false;
    }

    const auto begin = asio::buffers_begin(read_buffer_.data());
    const auto end = asio::buffers_end(read_buffer_.data());
    const auto feed = std::find(begin, end, '\n');
    const std::string first_line(begin, feed);
    read_buffer_.consume(first_line.size() + 1);
    std::string refusal;
    if (!read_session_ready(first_line, keys, refusal)) {
        if (!refusal.empty()) {
            give_advice("The PC refused the session (" + log_safe(refusal, 200) +
                        "). Check the session token and stream settings.");
        }
        return false;
    }
    open_.store(true);
    spdlog::info("Launcher: TCP handshake complete, session ready (keys: video={}, audio={}, input={})",
                 keys.video.size(), keys.audio.size(), keys.input.size());
    return true;
}

void ControlChannel::on_message(std::string type, MessageHandler handler) {
    handlers_.emplace_back(std::move(type), std::move(handler));
}

void ControlChannel::start_reading() {
    on_strand_.store(true);
    asio::post(strand_, [this] { read_next(); });
}

void ControlChannel::send(std::string_view json_text) {
    if (!open_.load()) return;
    std::string framed;
    framed.reserve(json_text.size() + 1);
    framed.append(json_text).push_back('\n');
    auto message = std::make_shared<const std::string>(std::move(framed));
    on_strand_.store(true);
    asio::post(strand_, [this, message] { enqueue(message); });
}

void ControlChannel::close() {
    open_.store(false);
    if (!socket_) return;
    if (!on_strand_.load()) {
        // Nothing has been handed to the strand since the handshake, so no
        // I/O thread can be on the socket.
        end_connection("closed by the client", false);
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    asio::post(strand_, [this, done] {
        end_connection("closed by the client", false);
        done->set_value();
    });
    // Served by the I/O threads; when none runs, the destructor closes it.
    finished.wait_for(k_close_wait);
}

void ControlChannel::enqueue(std::shared_ptr<const std::string> message) {
    if (ended_) return;
    if (write_queue_.size() >= tuning_.queue_capacity) {
        // The head may be in flight; its bytes must stay put until the write
        // completes, so the oldest waiting message goes instead.
        const auto victim = writing_ && write_queue_.size() > 1 ? write_queue_.begin() + 1 : write_queue_.begin();
        write_queue_.erase(victim);
        const uint64_t dropped = dropped_messages_.fetch_add(1) + 1;
        if (dropped == 1 || dropped % tuning_.queue_capacity == 0) {
            spdlog::warn("Launcher: control write queue full — dropped oldest (total={})", dropped);
        }
    }
    write_queue_.push_back(std::move(message));
    if (!writing_) write_next();
}

void ControlChannel::write_next() {
    if (ended_ || write_queue_.empty()) {
        writing_ = false;
        return;
    }
    writing_ = true;
    auto head = write_queue_.front();
    // asio writes in pieces until the whole message is out; `head` keeps the
    // bytes alive even if the queue drops it meanwhile.
    asio::async_write(*socket_, asio::buffer(*head),
                      asio::bind_executor(strand_, [this, head](const asio::error_code& error, size_t) {
                          on_written(error);
                      }));
}

void ControlChannel::on_written(const asio::error_code& error) {
    if (ended_) return;
    if (error) {
        spdlog::warn("Launcher: control message send error: {}", error.message());
        end_connection("sending failed: " + error.message(), true);
        return;
    }
    write_queue_.pop_front();
    write_next();
}

void ControlChannel::read_next() {
    if (ended_ || !socket_) return;
    asio::async_read_until(*socket_, read_buffer_, '\n',
                           asio::bind_executor(strand_, [this](const asio::error_code& error, size_t bytes) {
                               on_read(error, bytes);
                           }));
}

void ControlChannel::on_read(const asio::error_code& error, size_t line_bytes) {
    if (ended_) return;
    if (error == asio::error::not_found) {
        // The buffer filled without a line feed. Drop what it holds and the
        // rest of that line, rather than buffer a peer's stream without end.
        if (!skipping_long_line_) {
            spdlog::warn("ControlChannel: control line longer than {} bytes dropped", tuning_.max_line_bytes);
        }
        read_buffer_.consume(read_buffer_.size());
        skipping_long_line_ = true;
        read_next();
        return;
    }
    if (error == asio::error::eof) {
        end_connection("the agent closed the connection", true);
        return;
    }
    if (error) {
        end_connection("reading failed: " + error.message(), true);
        return;
    }
    const auto begin = asio::buffers_begin(read_buffer_.data());
    const std::string line(begin, begin + static_cast<std::ptrdiff_t>(line_bytes - 1));
    read_buffer_.consume(line_bytes);
    if (over_line_budget()) {
        shed_flood();
        return;
    }
    if (skipping_long_line_) {
        skipping_long_line_ = false;  // this was the tail of the dropped line
    } else if (!line.empty()) {
        dispatch(line);
    }
    read_next();
}

bool ControlChannel::over_line_budget() {
    const auto now = asio::steady_timer::clock_type::now();
    if (now - window_start_ >= std::chrono::milliseconds(tuning_.line_window_ms)) {
        window_start_ = now;
        window_lines_ = 0;
    }
    return ++window_lines_ > tuning_.max_lines_per_window;
}

// Drops the line just read and whatever else is buffered, and reads nothing
// more until the window ends: meanwhile the agent's own socket buffers fill
// and TCP holds it back, at no cost to us.
void ControlChannel::shed_flood() {
    const auto data = read_buffer_.data();
    const auto begin = asio::buffers_begin(data);
    const auto end = asio::buffers_end(data);
    const uint64_t dropped = 1 + static_cast<uint64_t>(std::count(begin, end, '\n'));
    // A line cut off at the end of the buffer is dropped whole when reading resumes.
    skipping_long_line_ = data.size() != 0 && *(end - 1) != '\n';
    read_buffer_.consume(read_buffer_.size());
    if (const uint64_t unsent = flood_log_.count(dropped)) {
        spdlog::warn("ControlChannel: the agent sends more than {} lines in {} ms; {} dropped since the last warning",
                     tuning_.max_lines_per_window, tuning_.line_window_ms, unsent);
    }
    resume_reading_.expires_at(window_start_ + std::chrono::milliseconds(tuning_.line_window_ms));
    resume_reading_.async_wait(asio::bind_executor(strand_, [this](const asio::error_code& error) {
        if (!error) read_next();
    }));
}

void ControlChannel::dispatch(std::string_view line) {
    const std::string type = message_type(line);
    if (type.empty()) {
        spdlog::debug("ControlChannel: dropped a line that is not a control message ({} bytes)", line.size());
        return;
    }
    for (const auto& [handled_type, handler] : handlers_) {
        if (handled_type == type) {
            handler(line);
            return;
        }
    }
    spdlog::debug("ControlChannel: ignored \"{}\" message from the agent", log_safe(type, 64));
}

void ControlChannel::end_connection(const std::string& reason, bool lost) {
    if (ended_) return;
    ended_ = true;
    open_.store(false);
    resume_reading_.cancel();
    write_queue_.clear();
    writing_ = false;
    if (socket_) {
        asio::error_code ignored;
        socket_->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_->close(ignored);
    }
    if (!lost) return;
    closed_by_error_.store(true);
    spdlog::warn("ControlChannel: connection to the agent lost ({})", reason);
    if (lost_) lost_(reason);
}

}  // namespace nb
