// Session start, run loop and the orderly shutdown of one stream.
#include "session/launcher.h"

#include <spdlog/spdlog.h>

#include <chrono>
#include <future>

namespace nb {

Launcher::Launcher(LauncherTuning tuning) : tuning_(tuning), strand_(asio::make_strand(io_context_)) {}

Launcher::~Launcher() { shutdown(); }

bool Launcher::connect(const ConnectionParams& params, SDL_Window* window) {
    (void)window;
    params_ = params;
    control_closed_.store(false);
    target_bitrate_.store(params.bitrate);
    spdlog::info("Launcher: connecting to {}:{}", params.host, params.port);

    if (!tcp_handshake(params)) {
        spdlog::error("Launcher: TCP handshake failed");
        return false;
    }

    work_guard_.emplace(asio::make_work_guard(io_context_));
    start_io_threads();
    running_.store(true);
    spdlog::info("Launcher: session active ({}x{} @ {}fps, codec={})", params.width, params.height, params.fps,
                 codec_number(params.codec));
    return true;
}

void Launcher::start_io_threads() {
    const unsigned count = io_thread_count(std::thread::hardware_concurrency());
    spdlog::debug("Launcher: starting {} ASIO IO threads", count);
    io_context_.restart();
    for (unsigned i = 0; i < count; ++i) {
        io_threads_.emplace_back([this, i] { io_thread_body(i); });
    }
}

void Launcher::io_thread_body(unsigned index) {
    spdlog::debug("Launcher: IO thread {} started", index);
    try {
        io_context_.run();
    } catch (const std::exception& e) {
        spdlog::critical("Launcher: IO thread {} exception: {}", index, e.what());
    } catch (...) {
        spdlog::critical("Launcher: IO thread {} unknown exception", index);
    }
    spdlog::debug("Launcher: IO thread {} exited", index);
}

void Launcher::run() {
    if (!running_.load()) return;
    spdlog::info("Launcher: entering main run loop");
    while (running_.load()) {
        if (stopping_.load()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    spdlog::info("Launcher: run loop exited");
}

void Launcher::close_control_socket() {
    if (!control_socket_) return;
    control_open_.store(false);
    auto socket = control_socket_;
    auto close = [socket] {
        if (!socket->is_open()) return;
        asio::error_code ignored;
        socket->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket->close(ignored);
    };
    if (io_threads_.empty()) {
        close();
        return;
    }
    // With I/O threads alive the close runs on the strand, beside the writes
    // it aborts; if the context no longer serves it, close after the join.
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    asio::post(strand_, [close, done] {
        close();
        done->set_value();
    });
    finished.wait_for(std::chrono::milliseconds(500));
}

void Launcher::shutdown() {
    if (stopping_.exchange(true)) return;
    spdlog::info("Launcher: shutdown requested");
    running_.store(false);

    close_control_socket();

    work_guard_.reset();
    io_context_.stop();
    for (auto& thread : io_threads_) {
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
    }
    if (control_socket_ && control_socket_->is_open()) {
        asio::error_code ignored;
        control_socket_->close(ignored);
    }
    spdlog::info("Launcher: shutdown complete");
}

}  // namespace nb
