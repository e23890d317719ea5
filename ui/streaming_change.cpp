#include "ui/streaming_change.h"

#include <nlohmann/json.hpp>

namespace nb::ui {

std::optional<StreamingChange> change_on_release(bool bitrate_released, bool fps_released,
                                                 const StreamSettings& settings) {
    if (!bitrate_released && !fps_released) return std::nullopt;
    StreamingChange change;
    if (bitrate_released) change.bitrate = settings.bitrate;
    if (fps_released) change.fps = settings.fps;
    return change;
}

std::string settings_message(const StreamingChange& change) {
    nlohmann::json message = {{"type", "set_settings"}};
    if (change.bitrate > 0) message["bitrate"] = change.bitrate;
    if (change.width > 0) message["width"] = change.width;
    if (change.height > 0) message["height"] = change.height;
    return message.dump();
}

}  // namespace nb::ui
