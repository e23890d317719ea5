// Keyboard translation: an SDL scan code becomes the virtual-key code, set-1
// make code and prefix flags that Windows Raw Input reports for that key, so
// the agent can replay it as if the key had been pressed on the remote PC.
#pragma once

#include <SDL_keycode.h>
#include <SDL_scancode.h>

#include <cstdint>
#include <optional>

namespace nb {

struct WindowsKey {
    uint16_t virtual_key = 0;  // RAWKEYBOARD.VKey
    uint8_t scan_code = 0;     // low byte of RAWKEYBOARD.MakeCode
    uint8_t flags = 0;         // k_key_flag_e0 / k_key_flag_e1; never break

    friend bool operator==(const WindowsKey&, const WindowsKey&) = default;
};

// Pure translation, usable without a window or an SDL video subsystem.
// `layout_key` is what the user's active layout puts on that key (the key
// event's keysym.sym, or SDL_GetKeyFromScancode): letter and punctuation keys
// take their virtual-key code from it, so an AZERTY user's A key gives VK_A.
// Every other key is translated by position. `num_lock` chooses between the
// digit and the navigation virtual-key codes of the keypad, as Windows does.
// Keys Windows has no code for give nullopt.
std::optional<WindowsKey> translate_key(SDL_Scancode scancode, SDL_Keycode layout_key, bool num_lock);

// The virtual-key code Windows gives a character key that types `key`, or 0
// when there is no layout-independent one (accented letters, '&', '<', ...).
uint16_t virtual_key_for_character(SDL_Keycode key);

}  // namespace nb
