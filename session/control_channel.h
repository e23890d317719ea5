// The TCP control connection to the agent: the authenticating handshake,
// then one writer queue and one reader for the newline-framed JSON messages.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/connection_params.h"
#include "common/log_rate_limiter.h"
#include "session/control_messages.h"

namespace nb {

struct ControlTuning {
    int connect_attempts = 15;
    int64_t connect_retry_pause_ms = 2000;
    int64_t step_timeout_ms = 5000;      // each resolve, connect, write and read of the handshake
    size_t queue_capacity = 64;          // queued outgoing messages
    size_t max_line_bytes = 64 * 1024;   // a longer incoming line is dropped, never buffered
    // The agent's own traffic is a few lines a second (pongs); past this
    // many lines in one window the rest of the window's lines are dropped
    // unread, so a flood costs the client next to nothing.
    size_t max_lines_per_window = 200;
    int64_t line_window_ms = 1000;
};

// Host name to addresses. Blocking; the channel runs it off the waiting
// thread so that a stuck name server never holds up a cancel.
using HostResolver = std::function<asio::ip::tcp::resolver::results_type(
    const std::string& host, const std::string& port, asio::error_code& error)>;

class ControlChannel {
public:
    // Handlers run on the I/O thread that read the line; they must not block.
    using MessageHandler = std::function<void(std::string_view line)>;
    // Text for the user about the connection attempt, from the connecting thread.
    using ProgressHandler = std::function<void(const std::string& status)>;
    // Once per connection, on an I/O thread, with the reason in words.
    using LostHandler = std::function<void(const std::string& reason)>;

    ControlChannel(asio::io_context& io, ControlTuning tuning = {}, HostResolver resolver = {});
    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    // Resolve, connect, authenticate and receive the keys. Blocks the calling
    // thread, driving the I/O context itself; no other thread may run the
    // context meanwhile. False after logging the cause, also when cancelled.
    bool handshake(const ConnectionParams& params, SessionKeys& keys);

    // Ends a handshake in progress (or the next one) within milliseconds.
    // Any thread.
    void cancel_handshake();
    bool handshake_cancelled() const { return cancelled_.load(); }
    // After a failed handshake: what went wrong and what to check, for the
    // user, in ASCII (X window titles lose other text in the C locale).
    // Empty when cancelled. Read on the thread that ran the handshake
    // or after joining it.
    const std::string& failure_advice() const { return advice_; }

    // Set before the handshake.
    void set_progress_handler(ProgressHandler handler) { progress_ = std::move(handler); }
    // Set before start_reading.
    void on_message(std::string type, MessageHandler handler);
    void set_lost_handler(LostHandler handler) { lost_ = std::move(handler); }

    // Begins dispatching incoming lines; the I/O threads serve the reads.
    void start_reading();

    // Queues one message (compact JSON without the line feed). Any thread;
    // never blocks; dropped silently once the channel is closed.
    void send(std::string_view json_text);

    // Shuts the socket down without reporting a loss. Once reading has
    // started the I/O threads must still be serving the context. Any thread
    // but those; idempotent.
    void close();

    bool open() const { return open_.load(); }
    bool closed_by_error() const { return closed_by_error_.load(); }
    uint64_t dropped_messages() const { return dropped_messages_.load(); }

private:
    struct StepOutcome;
    template <typename Start, typename Cancel>
    StepOutcome run_step(int64_t timeout_ms, Start&& start, Cancel&& cancel);
    bool resolve(const ConnectionParams& params, asio::ip::tcp::resolver::results_type& endpoints);
    bool connect_socket(const ConnectionParams& params, const asio::ip::tcp::resolver::results_type& endpoints);
    bool pause_before_retry();
    bool authenticate(const ConnectionParams& params, SessionKeys& keys);
    void report(const std::string& status);
    void give_advice(std::string advice);

    // Strand handlers.
    void enqueue(std::shared_ptr<const std::string> message);
    void write_next();
    void on_written(const asio::error_code& error);
    void read_next();
    void on_read(const asio::error_code& error, size_t line_bytes);
    void dispatch(std::string_view line);
    bool over_line_budget();
    void shed_flood();
    void end_connection(const std::string& reason, bool lost);

    asio::io_context& io_;
    ControlTuning tuning_;
    HostResolver resolver_;
    asio::strand<asio::io_context::executor_type> strand_;
    std::shared_ptr<asio::ip::tcp::socket> socket_;
    ProgressHandler progress_;
    std::string advice_;  // the handshake's thread
    LostHandler lost_;
    std::vector<std::pair<std::string, MessageHandler>> handlers_;  // fixed once reading starts

    std::atomic<bool> cancelled_{false};
    std::atomic<bool> on_strand_{false};  // start_reading or send ran: the strand owns the socket
    // Aborts the handshake step in flight; touched only by handlers of the
    // context the handshake drives, so by one thread at a time.
    std::function<void()> abort_step_;

    // Guarded by the strand.
    std::deque<std::shared_ptr<const std::string>> write_queue_;
    bool writing_ = false;
    bool ended_ = false;
    bool skipping_long_line_ = false;
    asio::streambuf read_buffer_;
    asio::steady_timer::time_point window_start_{};
    size_t window_lines_ = 0;
    asio::steady_timer resume_reading_;
    LogRateLimiter flood_log_;

    std::atomic<bool> open_{false};             // handshake done, connection not yet ended
    std::atomic<bool> closed_by_error_{false};  // a read or write failed, or the agent hung up
    std::atomic<uint64_t> dropped_messages_{0};
};

}  // namespace nb
