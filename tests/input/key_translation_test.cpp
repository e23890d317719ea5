// Every key of a 105-key PC keyboard and the media keys, against the
// virtual-key codes and set-1 scan codes Windows documents for them.
#include "input/key_translation.h"

#include <SDL_keyboard.h>
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "input/input_event.h"

namespace nb {
namespace {

struct Documented {
    SDL_Scancode scancode;
    SDL_Keycode us_key;  // what a US layout puts on the key
    uint16_t vk;
    uint32_t scan;  // as Windows writes it: 0xE0xx and 0xE1xx carry the prefix
};

// Virtual keys and scan codes from the Windows keyboard documentation, with
// a US layout and Num Lock on.
const std::vector<Documented> k_pc105 = {
    {SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, 0x1B, 0x01},
    {SDL_SCANCODE_F1, SDLK_F1, 0x70, 0x3B}, {SDL_SCANCODE_F2, SDLK_F2, 0x71, 0x3C},
    {SDL_SCANCODE_F3, SDLK_F3, 0x72, 0x3D}, {SDL_SCANCODE_F4, SDLK_F4, 0x73, 0x3E},
    {SDL_SCANCODE_F5, SDLK_F5, 0x74, 0x3F}, {SDL_SCANCODE_F6, SDLK_F6, 0x75, 0x40},
    {SDL_SCANCODE_F7, SDLK_F7, 0x76, 0x41}, {SDL_SCANCODE_F8, SDLK_F8, 0x77, 0x42},
    {SDL_SCANCODE_F9, SDLK_F9, 0x78, 0x43}, {SDL_SCANCODE_F10, SDLK_F10, 0x79, 0x44},
    {SDL_SCANCODE_F11, SDLK_F11, 0x7A, 0x57}, {SDL_SCANCODE_F12, SDLK_F12, 0x7B, 0x58},
    {SDL_SCANCODE_PRINTSCREEN, SDLK_PRINTSCREEN, 0x2C, 0xE037},
    {SDL_SCANCODE_SCROLLLOCK, SDLK_SCROLLLOCK, 0x91, 0x46},
    {SDL_SCANCODE_PAUSE, SDLK_PAUSE, 0x13, 0xE11D},

    {SDL_SCANCODE_GRAVE, '`', 0xC0, 0x29},
    {SDL_SCANCODE_1, '1', 0x31, 0x02}, {SDL_SCANCODE_2, '2', 0x32, 0x03},
    {SDL_SCANCODE_3, '3', 0x33, 0x04}, {SDL_SCANCODE_4, '4', 0x34, 0x05},
    {SDL_SCANCODE_5, '5', 0x35, 0x06}, {SDL_SCANCODE_6, '6', 0x36, 0x07},
    {SDL_SCANCODE_7, '7', 0x37, 0x08}, {SDL_SCANCODE_8, '8', 0x38, 0x09},
    {SDL_SCANCODE_9, '9', 0x39, 0x0A}, {SDL_SCANCODE_0, '0', 0x30, 0x0B},
    {SDL_SCANCODE_MINUS, '-', 0xBD, 0x0C}, {SDL_SCANCODE_EQUALS, '=', 0xBB, 0x0D},
    {SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, 0x08, 0x0E},

    {SDL_SCANCODE_TAB, SDLK_TAB, 0x09, 0x0F},
    {SDL_SCANCODE_Q, 'q', 0x51, 0x10}, {SDL_SCANCODE_W, 'w', 0x57, 0x11},
    {SDL_SCANCODE_E, 'e', 0x45, 0x12}, {SDL_SCANCODE_R, 'r', 0x52, 0x13},
    {SDL_SCANCODE_T, 't', 0x54, 0x14}, {SDL_SCANCODE_Y, 'y', 0x59, 0x15},
    {SDL_SCANCODE_U, 'u', 0x55, 0x16}, {SDL_SCANCODE_I, 'i', 0x49, 0x17},
    {SDL_SCANCODE_O, 'o', 0x4F, 0x18}, {SDL_SCANCODE_P, 'p', 0x50, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, '[', 0xDB, 0x1A}, {SDL_SCANCODE_RIGHTBRACKET, ']', 0xDD, 0x1B},
    {SDL_SCANCODE_RETURN, SDLK_RETURN, 0x0D, 0x1C},

    {SDL_SCANCODE_CAPSLOCK, SDLK_CAPSLOCK, 0x14, 0x3A},
    {SDL_SCANCODE_A, 'a', 0x41, 0x1E}, {SDL_SCANCODE_S, 's', 0x53, 0x1F},
    {SDL_SCANCODE_D, 'd', 0x44, 0x20}, {SDL_SCANCODE_F, 'f', 0x46, 0x21},
    {SDL_SCANCODE_G, 'g', 0x47, 0x22}, {SDL_SCANCODE_H, 'h', 0x48, 0x23},
    {SDL_SCANCODE_J, 'j', 0x4A, 0x24}, {SDL_SCANCODE_K, 'k', 0x4B, 0x25},
    {SDL_SCANCODE_L, 'l', 0x4C, 0x26}, {SDL_SCANCODE_SEMICOLON, ';', 0xBA, 0x27},
    {SDL_SCANCODE_APOSTROPHE, '\'', 0xDE, 0x28}, {SDL_SCANCODE_BACKSLASH, '\\', 0xDC, 0x2B},

    {SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, 0x10, 0x2A},
    {SDL_SCANCODE_NONUSBACKSLASH, '\\', 0xDC, 0x56},  // US layout on an ISO board
    {SDL_SCANCODE_Z, 'z', 0x5A, 0x2C}, {SDL_SCANCODE_X, 'x', 0x58, 0x2D},
    {SDL_SCANCODE_C, 'c', 0x43, 0x2E}, {SDL_SCANCODE_V, 'v', 0x56, 0x2F},
    {SDL_SCANCODE_B, 'b', 0x42, 0x30}, {SDL_SCANCODE_N, 'n', 0x4E, 0x31},
    {SDL_SCANCODE_M, 'm', 0x4D, 0x32}, {SDL_SCANCODE_COMMA, ',', 0xBC, 0x33},
    {SDL_SCANCODE_PERIOD, '.', 0xBE, 0x34}, {SDL_SCANCODE_SLASH, '/', 0xBF, 0x35},
    {SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, 0x10, 0x36},

    {SDL_SCANCODE_LCTRL, SDLK_LCTRL, 0x11, 0x1D}, {SDL_SCANCODE_LGUI, SDLK_LGUI, 0x5B, 0xE05B},
    {SDL_SCANCODE_LALT, SDLK_LALT, 0x12, 0x38}, {SDL_SCANCODE_SPACE, SDLK_SPACE, 0x20, 0x39},
    {SDL_SCANCODE_RALT, SDLK_RALT, 0x12, 0xE038}, {SDL_SCANCODE_RGUI, SDLK_RGUI, 0x5C, 0xE05C},
    {SDL_SCANCODE_APPLICATION, SDLK_APPLICATION, 0x5D, 0xE05D},
    {SDL_SCANCODE_RCTRL, SDLK_RCTRL, 0x11, 0xE01D},

    {SDL_SCANCODE_INSERT, SDLK_INSERT, 0x2D, 0xE052}, {SDL_SCANCODE_HOME, SDLK_HOME, 0x24, 0xE047},
    {SDL_SCANCODE_PAGEUP, SDLK_PAGEUP, 0x21, 0xE049}, {SDL_SCANCODE_DELETE, SDLK_DELETE, 0x2E, 0xE053},
    {SDL_SCANCODE_END, SDLK_END, 0x23, 0xE04F}, {SDL_SCANCODE_PAGEDOWN, SDLK_PAGEDOWN, 0x22, 0xE051},
    {SDL_SCANCODE_UP, SDLK_UP, 0x26, 0xE048}, {SDL_SCANCODE_LEFT, SDLK_LEFT, 0x25, 0xE04B},
    {SDL_SCANCODE_DOWN, SDLK_DOWN, 0x28, 0xE050}, {SDL_SCANCODE_RIGHT, SDLK_RIGHT, 0x27, 0xE04D},

    {SDL_SCANCODE_NUMLOCKCLEAR, SDLK_NUMLOCKCLEAR, 0x90, 0x45},
    {SDL_SCANCODE_KP_DIVIDE, SDLK_KP_DIVIDE, 0x6F, 0xE035},
    {SDL_SCANCODE_KP_MULTIPLY, SDLK_KP_MULTIPLY, 0x6A, 0x37},
    {SDL_SCANCODE_KP_MINUS, SDLK_KP_MINUS, 0x6D, 0x4A},
    {SDL_SCANCODE_KP_7, SDLK_KP_7, 0x67, 0x47}, {SDL_SCANCODE_KP_8, SDLK_KP_8, 0x68, 0x48},
    {SDL_SCANCODE_KP_9, SDLK_KP_9, 0x69, 0x49}, {SDL_SCANCODE_KP_PLUS, SDLK_KP_PLUS, 0x6B, 0x4E},
    {SDL_SCANCODE_KP_4, SDLK_KP_4, 0x64, 0x4B}, {SDL_SCANCODE_KP_5, SDLK_KP_5, 0x65, 0x4C},
    {SDL_SCANCODE_KP_6, SDLK_KP_6, 0x66, 0x4D}, {SDL_SCANCODE_KP_1, SDLK_KP_1, 0x61, 0x4F},
    {SDL_SCANCODE_KP_2, SDLK_KP_2, 0x62, 0x50}, {SDL_SCANCODE_KP_3, SDLK_KP_3, 0x63, 0x51},
    {SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, 0x0D, 0xE01C},
    {SDL_SCANCODE_KP_0, SDLK_KP_0, 0x60, 0x52}, {SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD, 0x6E, 0x53},
};

const std::vector<Documented> k_extra_keys = {
    {SDL_SCANCODE_F13, SDLK_F13, 0x7C, 0x64}, {SDL_SCANCODE_F14, SDLK_F14, 0x7D, 0x65},
    {SDL_SCANCODE_F15, SDLK_F15, 0x7E, 0x66}, {SDL_SCANCODE_F16, SDLK_F16, 0x7F, 0x67},
    {SDL_SCANCODE_F17, SDLK_F17, 0x80, 0x68}, {SDL_SCANCODE_F18, SDLK_F18, 0x81, 0x69},
    {SDL_SCANCODE_F19, SDLK_F19, 0x82, 0x6A}, {SDL_SCANCODE_F20, SDLK_F20, 0x83, 0x6B},
    {SDL_SCANCODE_F21, SDLK_F21, 0x84, 0x6C}, {SDL_SCANCODE_F22, SDLK_F22, 0x85, 0x6D},
    {SDL_SCANCODE_F23, SDLK_F23, 0x86, 0x6E}, {SDL_SCANCODE_F24, SDLK_F24, 0x87, 0x76},
    {SDL_SCANCODE_MUTE, SDLK_MUTE, 0xAD, 0xE020}, {SDL_SCANCODE_AUDIOMUTE, SDLK_AUDIOMUTE, 0xAD, 0xE020},
    {SDL_SCANCODE_VOLUMEDOWN, SDLK_VOLUMEDOWN, 0xAE, 0xE02E},
    {SDL_SCANCODE_VOLUMEUP, SDLK_VOLUMEUP, 0xAF, 0xE030},
    {SDL_SCANCODE_AUDIONEXT, SDLK_AUDIONEXT, 0xB0, 0xE019},
    {SDL_SCANCODE_AUDIOPREV, SDLK_AUDIOPREV, 0xB1, 0xE010},
    {SDL_SCANCODE_AUDIOSTOP, SDLK_AUDIOSTOP, 0xB2, 0xE024},
    {SDL_SCANCODE_AUDIOPLAY, SDLK_AUDIOPLAY, 0xB3, 0xE022},
    {SDL_SCANCODE_MAIL, SDLK_MAIL, 0xB4, 0xE06C},
    {SDL_SCANCODE_MEDIASELECT, SDLK_MEDIASELECT, 0xB5, 0xE06D},
    {SDL_SCANCODE_COMPUTER, SDLK_COMPUTER, 0xB6, 0xE06B},
    {SDL_SCANCODE_CALCULATOR, SDLK_CALCULATOR, 0xB7, 0xE021},
    {SDL_SCANCODE_WWW, SDLK_WWW, 0xAC, 0xE032}, {SDL_SCANCODE_AC_HOME, SDLK_AC_HOME, 0xAC, 0xE032},
    {SDL_SCANCODE_AC_SEARCH, SDLK_AC_SEARCH, 0xAA, 0xE065},
    {SDL_SCANCODE_AC_BOOKMARKS, SDLK_AC_BOOKMARKS, 0xAB, 0xE066},
    {SDL_SCANCODE_AC_REFRESH, SDLK_AC_REFRESH, 0xA8, 0xE067},
    {SDL_SCANCODE_AC_STOP, SDLK_AC_STOP, 0xA9, 0xE068},
    {SDL_SCANCODE_AC_FORWARD, SDLK_AC_FORWARD, 0xA7, 0xE069},
    {SDL_SCANCODE_AC_BACK, SDLK_AC_BACK, 0xA6, 0xE06A},
    {SDL_SCANCODE_SLEEP, SDLK_SLEEP, 0x5F, 0xE05F},
};

WindowsKey expected_key(const Documented& d) {
    uint8_t flags = 0;
    if ((d.scan >> 8) == 0xE0) flags = k_key_flag_e0;
    if ((d.scan >> 8) == 0xE1) flags = k_key_flag_e1;
    return WindowsKey{d.vk, static_cast<uint8_t>(d.scan & 0xFF), flags};
}

void expect_documented(const std::vector<Documented>& keys) {
    for (const Documented& d : keys) {
        SCOPED_TRACE(SDL_GetScancodeName(d.scancode));
        const auto got = translate_key(d.scancode, d.us_key, true);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->virtual_key, expected_key(d).virtual_key);
        EXPECT_EQ(got->scan_code, expected_key(d).scan_code);
        EXPECT_EQ(got->flags, expected_key(d).flags);
    }
}

TEST(KeyTranslation, FullPcKeyboardMatchesWindows) {
    EXPECT_EQ(k_pc105.size(), 105u);
    expect_documented(k_pc105);
}

TEST(KeyTranslation, FunctionAndMediaKeysMatchWindows) {
    expect_documented(k_extra_keys);
}

// Two physical keys reaching the remote as the same key would be a silent
// loss the user cannot work around.
TEST(KeyTranslation, EveryPcKeyboardKeyIsDistinct) {
    std::set<std::pair<uint16_t, uint8_t>> seen;  // (scan, flags)
    for (const Documented& d : k_pc105) {
        const auto got = translate_key(d.scancode, d.us_key, true);
        ASSERT_TRUE(got.has_value());
        EXPECT_TRUE(seen.insert({got->scan_code, got->flags}).second) << SDL_GetScancodeName(d.scancode);
    }
}

TEST(KeyTranslation, CharacterKeysFollowTheLayout) {
    // AZERTY: the key at US Q types 'a', the one at US ';' types 'm', the
    // one at US M types ','.
    EXPECT_EQ(translate_key(SDL_SCANCODE_Q, 'a', true), (WindowsKey{0x41, 0x10, 0}));
    EXPECT_EQ(translate_key(SDL_SCANCODE_SEMICOLON, 'm', true), (WindowsKey{0x4D, 0x27, 0}));
    EXPECT_EQ(translate_key(SDL_SCANCODE_M, ',', true), (WindowsKey{0xBC, 0x32, 0}));
    // QWERTZ swaps Y and Z.
    EXPECT_EQ(translate_key(SDL_SCANCODE_Y, 'z', true), (WindowsKey{0x5A, 0x15, 0}));
    EXPECT_EQ(translate_key(SDL_SCANCODE_RIGHTBRACKET, '+', true), (WindowsKey{0xBB, 0x1B, 0}));
    // Characters without a layout-independent code keep the key's place.
    EXPECT_EQ(translate_key(SDL_SCANCODE_APOSTROPHE, 0xE4 /* ä */, true), (WindowsKey{0xDE, 0x28, 0}));
    EXPECT_EQ(translate_key(SDL_SCANCODE_NONUSBACKSLASH, '<', true), (WindowsKey{0xE2, 0x56, 0}));
    // The number row stays VK_0..VK_9 whatever it types (AZERTY '&', '-').
    EXPECT_EQ(translate_key(SDL_SCANCODE_1, '&', true), (WindowsKey{0x31, 0x02, 0}));
    EXPECT_EQ(translate_key(SDL_SCANCODE_6, '-', true), (WindowsKey{0x36, 0x07, 0}));
    // Non-character keys never follow the layout.
    EXPECT_EQ(translate_key(SDL_SCANCODE_ESCAPE, 'q', true), (WindowsKey{0x1B, 0x01, 0}));
}

TEST(KeyTranslation, KeypadFollowsNumLock) {
    const std::vector<std::pair<SDL_Scancode, uint16_t>> off = {
        {SDL_SCANCODE_KP_7, 0x24}, {SDL_SCANCODE_KP_8, 0x26}, {SDL_SCANCODE_KP_9, 0x21},
        {SDL_SCANCODE_KP_4, 0x25}, {SDL_SCANCODE_KP_5, 0x0C}, {SDL_SCANCODE_KP_6, 0x27},
        {SDL_SCANCODE_KP_1, 0x23}, {SDL_SCANCODE_KP_2, 0x28}, {SDL_SCANCODE_KP_3, 0x22},
        {SDL_SCANCODE_KP_0, 0x2D}, {SDL_SCANCODE_KP_PERIOD, 0x2E},
    };
    for (const auto& [scancode, vk] : off) {
        const auto with_lock = translate_key(scancode, SDLK_UNKNOWN, true);
        const auto without = translate_key(scancode, SDLK_UNKNOWN, false);
        ASSERT_TRUE(with_lock && without);
        EXPECT_EQ(without->virtual_key, vk) << SDL_GetScancodeName(scancode);
        // Same physical key: only the virtual key changes, never the E0 flag.
        EXPECT_EQ(without->scan_code, with_lock->scan_code);
        EXPECT_EQ(without->flags, 0);
    }
}

TEST(KeyTranslation, UnknownKeysGiveNothing) {
    for (SDL_Scancode sc : {SDL_SCANCODE_UNKNOWN, SDL_SCANCODE_KP_EQUALS, SDL_SCANCODE_BRIGHTNESSUP,
                            SDL_SCANCODE_EJECT, SDL_SCANCODE_AUDIOREWIND,
                            SDL_NUM_SCANCODES, static_cast<SDL_Scancode>(1000)}) {
        EXPECT_FALSE(translate_key(sc, 'a', true).has_value()) << static_cast<int>(sc);
    }
}

}  // namespace
}  // namespace nb
