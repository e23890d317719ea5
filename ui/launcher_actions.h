// The launcher's flow without a window: the background operations the
// screens start, the steps that apply their results, deep links, polling and
// signing out. Everything here runs on the UI thread.
#pragma once

#include <string>

#include "ui/launcher_impl.h"

namespace nb::ui {

void set_status(NativeLauncher::Impl& impl, std::string text, StatusKind kind);
void clear_session(NativeLauncher::Impl& impl);

// Each returns false when its slot was busy and nothing was started.
bool start_sign_in(NativeLauncher::Impl& impl);
bool start_registration(NativeLauncher::Impl& impl);
bool start_load_servers(NativeLauncher::Impl& impl);
bool start_rent(NativeLauncher::Impl& impl);
bool start_poll(NativeLauncher::Impl& impl);
bool start_launch_stream(NativeLauncher::Impl& impl);
bool start_end_session(NativeLauncher::Impl& impl);
bool start_profile_refresh(NativeLauncher::Impl& impl);

// Runs the results that arrived since the last frame, slot by slot.
void apply_ready_results(NativeLauncher::Impl& impl);

// Polls the rented session when 3 s have passed on `now_s` (seconds of a
// steady clock), the slot is free and the session is not streaming already.
bool poll_due(const NativeLauncher::Impl& impl, double now_s);
bool poll_if_due(NativeLauncher::Impl& impl, double now_s);

// A pending deep link when the window opens: true when it became a stream
// hand-over. A user who is not signed in keeps the link for later.
bool take_deep_link_at_start(NativeLauncher::Impl& impl);
// The same link on the session screen after sign-in: true when handled.
bool take_deep_link_in_session(NativeLauncher::Impl& impl);

// The result's defaults before each show().
void reset_result(NativeLauncher::Result& result);

}  // namespace nb::ui
