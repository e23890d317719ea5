// The input half of a session: the window's input capture and the
// encrypted sender to the agent. Records leave from the thread that pumps
// the window's events, the moment an event produced them.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/connection_params.h"
#include "input/input_event.h"
#include "session/launcher_tuning.h"

struct SDL_Window;

namespace nb {

class IInputCapture;
class InputSender;

class InputPipeline {
public:
    InputPipeline(asio::io_context& io, const LauncherTuning& tuning);
    ~InputPipeline();
    InputPipeline(const InputPipeline&) = delete;
    InputPipeline& operator=(const InputPipeline&) = delete;

    // False after logging the cause; what was created stays for stop.
    bool start(const ConnectionParams& params, SDL_Window* window, std::unique_ptr<IInputCapture> capture,
               const std::vector<uint8_t>& key);
    // Idempotent: the sender first, then the capture.
    void stop();

    // Event-pumping thread only, like the capture's own appends.
    void send_pending();
    void release_remote();
    void refresh();

    IInputCapture* capture() { return capture_.get(); }

private:
    asio::io_context& io_;
    const LauncherTuning& tuning_;
    std::unique_ptr<IInputCapture> capture_;
    std::unique_ptr<InputSender> sender_;
    std::vector<InputEvent> batch_;  // event-pumping thread only
};

}  // namespace nb
