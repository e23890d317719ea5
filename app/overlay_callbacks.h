// What ties the in-stream overlay to one session: its drawing callback,
// which gathers the session's figures, and the handler for slider changes.
#pragma once

#include <functional>

#include "ui/live_session_info.h"
#include "ui/overlay_imgui.h"

namespace nb {

class Launcher;

// The Launcher's overlay-drawing callback. Runs under the render lock.
std::function<void()> make_overlay_draw(ui::OverlayImGui& overlay, Launcher& launcher,
                                        const ui::LiveSessionRecord& live);

// Turns a released slider into a "set_settings" control message and keeps
// the Launcher's target bitrate in step with what was asked of the agent.
ui::OverlayImGui::ChangeCallback make_settings_handler(Launcher& launcher);

}  // namespace nb
