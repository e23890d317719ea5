#include "session/input_pipeline.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <spdlog/spdlog.h>

#include "common/log_text.h"
#include "input/input_capture.h"
#include "net/input_sender.h"

namespace nb {

namespace {
// Records one event can produce, with room to spare.
constexpr size_t k_input_batch_reserve = 256;
}  // namespace

InputPipeline::InputPipeline(asio::io_context& io, const LauncherTuning& tuning) : io_(io), tuning_(tuning) {
    batch_.reserve(k_input_batch_reserve);
}

InputPipeline::~InputPipeline() { stop(); }

bool InputPipeline::start(const ConnectionParams& params, SDL_Window* window, std::unique_ptr<IInputCapture> capture,
                          const std::vector<uint8_t>& key) {
    spdlog::debug("Launcher: start_input_pipeline → {}:{}", log_safe(params.host), tuning_.ports.input_remote);

    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window && SDL_GetWindowWMInfo(window, &info)) {
        spdlog::debug("Launcher: got native window from SDL window");
    } else {
        spdlog::warn("Launcher: SDL_GetWindowWMInfo failed: {}", SDL_GetError());
    }

    if (!capture || !capture->start(window)) {
        spdlog::error("Launcher: {}::start failed", capture ? capture->name() : "input capture");
        return false;
    }
    capture_ = std::move(capture);
    spdlog::debug("Launcher: input capture started");

    try {
        sender_ = std::make_unique<InputSender>(io_, tuning_.ports.input_remote, tuning_.udp_bind_address);
    } catch (const std::exception& e) {
        spdlog::error("Launcher: InputSender socket failed: {}", e.what());
        return false;
    }
    if (!sender_->connect(params.host)) {
        spdlog::error("Launcher: InputSender::connect to {}:{} failed", log_safe(params.host),
                      tuning_.ports.input_remote);
        return false;
    }
    sender_->set_key(key);  // logs a missing or wrong key itself; input then drops
    spdlog::info("Launcher: input pipeline started");
    return true;
}

void InputPipeline::stop() {
    if (sender_) sender_->stop();
    if (capture_) capture_->stop();
}

void InputPipeline::send_pending() {
    if (!capture_ || !sender_) return;
    if (capture_->drain(batch_) > 0) sender_->send_events(batch_);
}

void InputPipeline::release_remote() {
    if (!capture_) return;
    if (const size_t released = capture_->release_held(); released > 0) {
        spdlog::debug("Launcher: released {} held keys and buttons on the remote", released);
    }
    send_pending();
}

void InputPipeline::refresh() {
    if (capture_ && capture_->running()) capture_->refresh();
}

}  // namespace nb
