// One rentable PC as a card of the server grid.
#pragma once

#include "ui/launcher_impl.h"

namespace nb::ui {

constexpr float k_server_card_height = 230.0f;

// True when the card's "Details" was clicked.
bool render_server_card(NativeLauncher::Impl& impl, const ServerInfo& server, float width);

}  // namespace nb::ui
