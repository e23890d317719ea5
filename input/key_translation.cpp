// One table indexed by SDL scan code holds the position-based translation;
// character keys then consult the active layout.
#include "input/key_translation.h"

#include <array>

#include "input/input_event.h"

namespace nb {
namespace {

// How a key's virtual-key code is chosen.
enum class KeyKind : uint8_t {
    none,      // no Windows equivalent: no record
    position,  // fixed by the key's place on the keyboard
    layout,    // character key: follows the active layout when it can
    keypad,    // depends on Num Lock
};

struct Entry {
    uint16_t virtual_key = 0;
    uint8_t scan_code = 0;
    uint8_t flags = 0;
    KeyKind kind = KeyKind::none;
    uint16_t num_lock_off_key = 0;  // keypad digits with Num Lock off
};

constexpr uint8_t e0 = k_key_flag_e0;
constexpr uint8_t e1 = k_key_flag_e1;

constexpr std::array<Entry, SDL_NUM_SCANCODES> build_table() {
    std::array<Entry, SDL_NUM_SCANCODES> t{};
    auto pos = [&t](SDL_Scancode sc, uint16_t vk, uint8_t scan, uint8_t flags = 0) {
        t[sc] = Entry{vk, scan, flags, KeyKind::position, 0};
    };
    auto chr = [&t](SDL_Scancode sc, uint16_t vk, uint8_t scan) {
        t[sc] = Entry{vk, scan, 0, KeyKind::layout, 0};
    };
    auto pad = [&t](SDL_Scancode sc, uint16_t vk_on, uint16_t vk_off, uint8_t scan) {
        t[sc] = Entry{vk_on, scan, 0, KeyKind::keypad, vk_off};
    };

    // Letters: US position gives the fallback virtual key.
    constexpr uint8_t letter_scans[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                          0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                          0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
    for (int i = 0; i < 26; ++i) {
        chr(static_cast<SDL_Scancode>(SDL_SCANCODE_A + i), static_cast<uint16_t>('A' + i), letter_scans[i]);
    }
    // The number row keeps VK_0..VK_9 on every Windows layout, whatever the
    // unshifted character (AZERTY '&', Czech '+'), so it goes by position.
    for (int i = 0; i < 9; ++i) {
        pos(static_cast<SDL_Scancode>(SDL_SCANCODE_1 + i), static_cast<uint16_t>('1' + i),
            static_cast<uint8_t>(0x02 + i));
    }
    pos(SDL_SCANCODE_0, '0', 0x0B);

    pos(SDL_SCANCODE_RETURN, 0x0D, 0x1C);
    pos(SDL_SCANCODE_ESCAPE, 0x1B, 0x01);
    pos(SDL_SCANCODE_BACKSPACE, 0x08, 0x0E);
    pos(SDL_SCANCODE_TAB, 0x09, 0x0F);
    pos(SDL_SCANCODE_SPACE, 0x20, 0x39);

    chr(SDL_SCANCODE_MINUS, 0xBD, 0x0C);
    chr(SDL_SCANCODE_EQUALS, 0xBB, 0x0D);
    chr(SDL_SCANCODE_LEFTBRACKET, 0xDB, 0x1A);
    chr(SDL_SCANCODE_RIGHTBRACKET, 0xDD, 0x1B);
    chr(SDL_SCANCODE_BACKSLASH, 0xDC, 0x2B);
    // The ISO key left of Enter shares the ANSI backslash's make code; its
    // fallback is the UK layout's code for it.
    chr(SDL_SCANCODE_NONUSHASH, 0xDE, 0x2B);
    chr(SDL_SCANCODE_SEMICOLON, 0xBA, 0x27);
    chr(SDL_SCANCODE_APOSTROPHE, 0xDE, 0x28);
    chr(SDL_SCANCODE_GRAVE, 0xC0, 0x29);
    chr(SDL_SCANCODE_COMMA, 0xBC, 0x33);
    chr(SDL_SCANCODE_PERIOD, 0xBE, 0x34);
    chr(SDL_SCANCODE_SLASH, 0xBF, 0x35);
    chr(SDL_SCANCODE_NONUSBACKSLASH, 0xE2, 0x56);

    pos(SDL_SCANCODE_CAPSLOCK, 0x14, 0x3A);
    for (int i = 0; i < 10; ++i) {  // F1..F10
        pos(static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + i), static_cast<uint16_t>(0x70 + i),
            static_cast<uint8_t>(0x3B + i));
    }
    pos(SDL_SCANCODE_F11, 0x7A, 0x57);
    pos(SDL_SCANCODE_F12, 0x7B, 0x58);
    for (int i = 0; i < 11; ++i) {  // F13..F23 sit at 0x64..0x6E, F24 apart
        pos(static_cast<SDL_Scancode>(SDL_SCANCODE_F13 + i), static_cast<uint16_t>(0x7C + i),
            static_cast<uint8_t>(0x64 + i));
    }
    pos(SDL_SCANCODE_F24, 0x87, 0x76);

    // Print Screen arrives as E0 2A E0 37; Raw Input reports the E0 37 half
    // under VK_SNAPSHOT. Pause is E1 1D 45, reported as E1 1D.
    pos(SDL_SCANCODE_PRINTSCREEN, 0x2C, 0x37, e0);
    pos(SDL_SCANCODE_SCROLLLOCK, 0x91, 0x46);
    pos(SDL_SCANCODE_PAUSE, 0x13, 0x1D, e1);

    pos(SDL_SCANCODE_INSERT, 0x2D, 0x52, e0);
    pos(SDL_SCANCODE_HOME, 0x24, 0x47, e0);
    pos(SDL_SCANCODE_PAGEUP, 0x21, 0x49, e0);
    pos(SDL_SCANCODE_DELETE, 0x2E, 0x53, e0);
    pos(SDL_SCANCODE_END, 0x23, 0x4F, e0);
    pos(SDL_SCANCODE_PAGEDOWN, 0x22, 0x51, e0);
    pos(SDL_SCANCODE_RIGHT, 0x27, 0x4D, e0);
    pos(SDL_SCANCODE_LEFT, 0x25, 0x4B, e0);
    pos(SDL_SCANCODE_DOWN, 0x28, 0x50, e0);
    pos(SDL_SCANCODE_UP, 0x26, 0x48, e0);

    pos(SDL_SCANCODE_NUMLOCKCLEAR, 0x90, 0x45);
    pos(SDL_SCANCODE_KP_DIVIDE, 0x6F, 0x35, e0);
    pos(SDL_SCANCODE_KP_MULTIPLY, 0x6A, 0x37);
    pos(SDL_SCANCODE_KP_MINUS, 0x6D, 0x4A);
    pos(SDL_SCANCODE_KP_PLUS, 0x6B, 0x4E);
    pos(SDL_SCANCODE_KP_ENTER, 0x0D, 0x1C, e0);
    pad(SDL_SCANCODE_KP_1, 0x61, 0x23, 0x4F);
    pad(SDL_SCANCODE_KP_2, 0x62, 0x28, 0x50);
    pad(SDL_SCANCODE_KP_3, 0x63, 0x22, 0x51);
    pad(SDL_SCANCODE_KP_4, 0x64, 0x25, 0x4B);
    pad(SDL_SCANCODE_KP_5, 0x65, 0x0C, 0x4C);
    pad(SDL_SCANCODE_KP_6, 0x66, 0x27, 0x4D);
    pad(SDL_SCANCODE_KP_7, 0x67, 0x24, 0x47);
    pad(SDL_SCANCODE_KP_8, 0x68, 0x26, 0x48);
    pad(SDL_SCANCODE_KP_9, 0x69, 0x21, 0x49);
    pad(SDL_SCANCODE_KP_0, 0x60, 0x2D, 0x52);
    pad(SDL_SCANCODE_KP_PERIOD, 0x6E, 0x2E, 0x53);

    // Modifiers report the generic virtual key; the side is in the make code
    // and the E0 prefix.
    pos(SDL_SCANCODE_LCTRL, 0x11, 0x1D);
    pos(SDL_SCANCODE_RCTRL, 0x11, 0x1D, e0);
    pos(SDL_SCANCODE_LSHIFT, 0x10, 0x2A);
    pos(SDL_SCANCODE_RSHIFT, 0x10, 0x36);
    pos(SDL_SCANCODE_LALT, 0x12, 0x38);
    pos(SDL_SCANCODE_RALT, 0x12, 0x38, e0);
    pos(SDL_SCANCODE_LGUI, 0x5B, 0x5B, e0);
    pos(SDL_SCANCODE_RGUI, 0x5C, 0x5C, e0);
    pos(SDL_SCANCODE_APPLICATION, 0x5D, 0x5D, e0);

    // Japanese and Korean keyboards' extra keys, with their layouts' codes.
    pos(SDL_SCANCODE_INTERNATIONAL1, 0xE2, 0x73);  // Ro
    pos(SDL_SCANCODE_INTERNATIONAL3, 0xDC, 0x7D);  // Yen
    pos(SDL_SCANCODE_INTERNATIONAL4, 0x1C, 0x79);  // Henkan: VK_CONVERT
    pos(SDL_SCANCODE_INTERNATIONAL5, 0x1D, 0x7B);  // Muhenkan: VK_NONCONVERT
    pos(SDL_SCANCODE_LANG1, 0x15, 0xF2);           // Hangul
    pos(SDL_SCANCODE_LANG2, 0x19, 0xF1);           // Hanja

    // Media and application keys: all E0-prefixed on a PC keyboard.
    pos(SDL_SCANCODE_MUTE, 0xAD, 0x20, e0);
    pos(SDL_SCANCODE_AUDIOMUTE, 0xAD, 0x20, e0);
    pos(SDL_SCANCODE_VOLUMEDOWN, 0xAE, 0x2E, e0);
    pos(SDL_SCANCODE_VOLUMEUP, 0xAF, 0x30, e0);
    pos(SDL_SCANCODE_AUDIONEXT, 0xB0, 0x19, e0);
    pos(SDL_SCANCODE_AUDIOPREV, 0xB1, 0x10, e0);
    pos(SDL_SCANCODE_AUDIOSTOP, 0xB2, 0x24, e0);
    pos(SDL_SCANCODE_AUDIOPLAY, 0xB3, 0x22, e0);
    pos(SDL_SCANCODE_MEDIASELECT, 0xB5, 0x6D, e0);
    pos(SDL_SCANCODE_MAIL, 0xB4, 0x6C, e0);
    pos(SDL_SCANCODE_CALCULATOR, 0xB7, 0x21, e0);
    pos(SDL_SCANCODE_COMPUTER, 0xB6, 0x6B, e0);
    pos(SDL_SCANCODE_WWW, 0xAC, 0x32, e0);
    pos(SDL_SCANCODE_AC_HOME, 0xAC, 0x32, e0);
    pos(SDL_SCANCODE_AC_SEARCH, 0xAA, 0x65, e0);
    pos(SDL_SCANCODE_AC_BOOKMARKS, 0xAB, 0x66, e0);
    pos(SDL_SCANCODE_AC_REFRESH, 0xA8, 0x67, e0);
    pos(SDL_SCANCODE_AC_STOP, 0xA9, 0x68, e0);
    pos(SDL_SCANCODE_AC_FORWARD, 0xA7, 0x69, e0);
    pos(SDL_SCANCODE_AC_BACK, 0xA6, 0x6A, e0);
    pos(SDL_SCANCODE_SLEEP, 0x5F, 0x5F, e0);
    return t;
}

constexpr std::array<Entry, SDL_NUM_SCANCODES> k_table = build_table();

}  // namespace

uint16_t virtual_key_for_character(SDL_Keycode key) {
    if (key >= 'a' && key <= 'z') return static_cast<uint16_t>('A' + (key - 'a'));
    if (key >= '0' && key <= '9') return static_cast<uint16_t>(key);
    switch (key) {
        case ';': return 0xBA;
        case '=':
        case '+': return 0xBB;  // Windows names this one by '+' on every layout
        case ',': return 0xBC;
        case '-': return 0xBD;
        case '.': return 0xBE;
        case '/': return 0xBF;
        case '`': return 0xC0;
        case '[': return 0xDB;
        case '\\': return 0xDC;
        case ']': return 0xDD;
        case '\'': return 0xDE;
        default: return 0;
    }
}

std::optional<WindowsKey> translate_key(SDL_Scancode scancode, SDL_Keycode layout_key, bool num_lock) {
    if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return std::nullopt;
    const Entry& e = k_table[scancode];
    WindowsKey key{e.virtual_key, e.scan_code, e.flags};
    switch (e.kind) {
        case KeyKind::none:
            return std::nullopt;
        case KeyKind::position:
            break;
        case KeyKind::layout:
            if (const uint16_t vk = virtual_key_for_character(layout_key); vk != 0) key.virtual_key = vk;
            break;
        case KeyKind::keypad:
            if (!num_lock) key.virtual_key = e.num_lock_off_key;
            break;
    }
    return key;
}

}  // namespace nb
