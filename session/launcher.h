// One streaming session: control channel, media pipelines, I/O threads,
// run loop and the orderly shutdown.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/connection_params.h"
#include "session/launcher_tuning.h"

struct SDL_Window;

namespace nb {

class Launcher {
public:
    explicit Launcher(LauncherTuning tuning = {});
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // The whole session start, on the main thread. False after logging the
    // cause; whatever was created stays for shutdown.
    bool connect(const ConnectionParams& params, SDL_Window* window);

    // Pipeline thread: returns once the session stops.
    void run();

    // Idempotent, callable from any thread.
    void shutdown();

    // Queues one control message (compact JSON, no line feed). Never blocks.
    void send_control(const std::string& json_text);

    // Resolve, connect, authenticate and receive the session keys.
    bool tcp_handshake(const ConnectionParams& params);

    bool running() const { return running_.load(); }
    const std::vector<uint8_t>& video_key() const { return video_key_; }
    const std::vector<uint8_t>& audio_key() const { return audio_key_; }
    const std::vector<uint8_t>& input_key() const { return input_key_; }
    uint64_t dropped_control_messages() const { return dropped_control_messages_.load(); }
    bool control_closed() const { return control_closed_.load(); }
    int32_t target_bitrate() const { return target_bitrate_.load(); }

    // The session's I/O context, for components that live on it.
    asio::io_context& io_context() { return io_context_; }

    void set_overlay_visible(bool visible) { overlay_visible_.store(visible); }
    bool overlay_visible() const { return overlay_visible_.load(); }

private:
    using Strand = asio::strand<asio::io_context::executor_type>;

    void start_io_threads();
    void io_thread_body(unsigned index);
    void close_control_socket();

    // Control write queue; every function below runs on the strand.
    void enqueue_control(std::shared_ptr<const std::string> message);
    void start_control_write();
    void on_control_written(const asio::error_code& error);

    LauncherTuning tuning_;
    asio::io_context io_context_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_guard_;
    std::vector<std::thread> io_threads_;
    std::shared_ptr<asio::ip::tcp::socket> control_socket_;
    Strand strand_;

    // Guarded by the strand: only strand handlers touch these.
    std::deque<std::shared_ptr<const std::string>> write_queue_;
    bool writing_ = false;
    std::atomic<bool> control_closed_{false};
    std::atomic<bool> control_open_{false};  // handshake done and socket not yet closed
    std::atomic<uint64_t> dropped_control_messages_{0};

    ConnectionParams params_;
    std::vector<uint8_t> video_key_;
    std::vector<uint8_t> audio_key_;
    std::vector<uint8_t> input_key_;

    std::atomic<int32_t> target_bitrate_{0};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> overlay_visible_{false};
    std::atomic<int64_t> last_present_us_{0};
};

}  // namespace nb
