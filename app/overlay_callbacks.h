// What ties the in-stream overlay to one session: its set-up and teardown on
// the video thread, its drawing callback, which gathers the session's
// figures, and the handler for slider changes.
#pragma once

#include "common/connection_params.h"
#include "ui/live_session_info.h"
#include "ui/overlay_imgui.h"
#include "video/video_thread.h"

namespace nb {

class Launcher;

// Binds the overlay to the renderer's GL context on the video thread and
// installs its drawing. False, with a warning, when there is no GL context.
bool attach_overlay(ui::OverlayImGui& overlay, Launcher& launcher, const ConnectionParams& params,
                    const ui::LiveSessionRecord& live);

// Unhooks the drawing and releases the overlay's GL objects on the video
// thread, while the context still exists.
void detach_overlay(ui::OverlayImGui& overlay, Launcher& launcher);

// The video thread's overlay-drawing callback.
VideoThread::OverlayDraw make_overlay_draw(ui::OverlayImGui& overlay, Launcher& launcher,
                                           const ui::LiveSessionRecord& live);

// Turns a released slider into a "set_settings" control message and keeps
// the Launcher's target bitrate in step with what was asked of the agent.
ui::OverlayImGui::ChangeCallback make_settings_handler(Launcher& launcher);

}  // namespace nb
