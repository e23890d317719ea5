// The streaming window's face while there is no picture: the connection
// attempt with a way to give up, or why a stream ended or never started.
#pragma once

#include <SDL.h>

#include <string>

#include "ui/imgui_surface.h"
#include "ui/launcher_impl.h"

namespace nb::ui {

class StatusCard {
public:
    enum class Kind { progress, notice };

    // Borrows the window's drawing surface on the calling thread until
    // destroyed; the caller's thread must own the window's events. When the
    // surface cannot be made, the card stays blank and the caller's window
    // title speaks.
    explicit StatusCard(SDL_Window* window);
    ~StatusCard();
    StatusCard(const StatusCard&) = delete;
    StatusCard& operator=(const StatusCard&) = delete;

    // A progress card has a spinner and a Cancel button; a notice has neither.
    void show(const std::string& text, Kind kind);

    // Passes one window event to the card. True when it pressed Cancel.
    bool handle(const SDL_Event& event);

    // Draws the card again (the spinner turns). Cheap enough at 20 Hz.
    void draw();

private:
    LauncherFonts fonts_;  // filled when the surface opens
    ImGuiSurface surface_;
    std::string text_;
    Kind kind_ = Kind::progress;
    bool cancel_pressed_ = false;
};

}  // namespace nb::ui
