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
    uint16_t vk;
    uint32_t scan;                        // as Windows writes it: 0xE0xx, 0xE1xx carry the prefix
    SDL_Keycode us_key = SDLK_UNKNOWN;  // what a US layout types on a character key
};
#define K(name) SDL_SCANCODE_##name

// Virtual keys and scan codes from the Windows keyboard documentation, with
// a US layout and Num Lock on.
const std::vector<Documented> k_pc105 = {
    {K(ESCAPE), 0x1B, 0x01}, {K(F1), 0x70, 0x3B}, {K(F2), 0x71, 0x3C}, {K(F3), 0x72, 0x3D},
    {K(F4), 0x73, 0x3E}, {K(F5), 0x74, 0x3F}, {K(F6), 0x75, 0x40}, {K(F7), 0x76, 0x41},
    {K(F8), 0x77, 0x42}, {K(F9), 0x78, 0x43}, {K(F10), 0x79, 0x44}, {K(F11), 0x7A, 0x57},
    {K(F12), 0x7B, 0x58}, {K(PRINTSCREEN), 0x2C, 0xE037}, {K(SCROLLLOCK), 0x91, 0x46}, {K(PAUSE), 0x13, 0xE11D},
    {K(GRAVE), 0xC0, 0x29, '`'}, {K(1), 0x31, 0x02, '1'}, {K(2), 0x32, 0x03, '2'}, {K(3), 0x33, 0x04, '3'},
    {K(4), 0x34, 0x05, '4'}, {K(5), 0x35, 0x06, '5'}, {K(6), 0x36, 0x07, '6'}, {K(7), 0x37, 0x08, '7'},
    {K(8), 0x38, 0x09, '8'}, {K(9), 0x39, 0x0A, '9'}, {K(0), 0x30, 0x0B, '0'}, {K(MINUS), 0xBD, 0x0C, '-'},
    {K(EQUALS), 0xBB, 0x0D, '='}, {K(BACKSPACE), 0x08, 0x0E}, {K(TAB), 0x09, 0x0F}, {K(Q), 0x51, 0x10, 'q'},
    {K(W), 0x57, 0x11, 'w'}, {K(E), 0x45, 0x12, 'e'}, {K(R), 0x52, 0x13, 'r'}, {K(T), 0x54, 0x14, 't'},
    {K(Y), 0x59, 0x15, 'y'}, {K(U), 0x55, 0x16, 'u'}, {K(I), 0x49, 0x17, 'i'}, {K(O), 0x4F, 0x18, 'o'},
    {K(P), 0x50, 0x19, 'p'}, {K(LEFTBRACKET), 0xDB, 0x1A, '['}, {K(RIGHTBRACKET), 0xDD, 0x1B, ']'}, {K(RETURN), 0x0D, 0x1C},
    {K(CAPSLOCK), 0x14, 0x3A}, {K(A), 0x41, 0x1E, 'a'}, {K(S), 0x53, 0x1F, 's'}, {K(D), 0x44, 0x20, 'd'},
    {K(F), 0x46, 0x21, 'f'}, {K(G), 0x47, 0x22, 'g'}, {K(H), 0x48, 0x23, 'h'}, {K(J), 0x4A, 0x24, 'j'},
    {K(K), 0x4B, 0x25, 'k'}, {K(L), 0x4C, 0x26, 'l'}, {K(SEMICOLON), 0xBA, 0x27, ';'}, {K(APOSTROPHE), 0xDE, 0x28, '\''},
    {K(BACKSLASH), 0xDC, 0x2B, '\\'}, {K(LSHIFT), 0x10, 0x2A},
    {K(NONUSBACKSLASH), 0xDC, 0x56, '\\'},  // US layout on an ISO board
    {K(Z), 0x5A, 0x2C, 'z'}, {K(X), 0x58, 0x2D, 'x'}, {K(C), 0x43, 0x2E, 'c'}, {K(V), 0x56, 0x2F, 'v'},
    {K(B), 0x42, 0x30, 'b'}, {K(N), 0x4E, 0x31, 'n'}, {K(M), 0x4D, 0x32, 'm'}, {K(COMMA), 0xBC, 0x33, ','},
    {K(PERIOD), 0xBE, 0x34, '.'},
    {K(SLASH), 0xBF, 0x35, '/'}, {K(RSHIFT), 0x10, 0x36}, {K(LCTRL), 0x11, 0x1D}, {K(LGUI), 0x5B, 0xE05B},
    {K(LALT), 0x12, 0x38}, {K(SPACE), 0x20, 0x39}, {K(RALT), 0x12, 0xE038}, {K(RGUI), 0x5C, 0xE05C},
    {K(APPLICATION), 0x5D, 0xE05D}, {K(RCTRL), 0x11, 0xE01D}, {K(INSERT), 0x2D, 0xE052}, {K(HOME), 0x24, 0xE047},
    {K(PAGEUP), 0x21, 0xE049}, {K(DELETE), 0x2E, 0xE053}, {K(END), 0x23, 0xE04F}, {K(PAGEDOWN), 0x22, 0xE051},
    {K(UP), 0x26, 0xE048}, {K(LEFT), 0x25, 0xE04B}, {K(DOWN), 0x28, 0xE050}, {K(RIGHT), 0x27, 0xE04D},
    {K(NUMLOCKCLEAR), 0x90, 0x45}, {K(KP_DIVIDE), 0x6F, 0xE035}, {K(KP_MULTIPLY), 0x6A, 0x37}, {K(KP_MINUS), 0x6D, 0x4A},
    {K(KP_7), 0x67, 0x47}, {K(KP_8), 0x68, 0x48}, {K(KP_9), 0x69, 0x49}, {K(KP_PLUS), 0x6B, 0x4E},
    {K(KP_4), 0x64, 0x4B}, {K(KP_5), 0x65, 0x4C}, {K(KP_6), 0x66, 0x4D}, {K(KP_1), 0x61, 0x4F},
    {K(KP_2), 0x62, 0x50}, {K(KP_3), 0x63, 0x51}, {K(KP_ENTER), 0x0D, 0xE01C}, {K(KP_0), 0x60, 0x52},
    {K(KP_PERIOD), 0x6E, 0x53},
};

const std::vector<Documented> k_extra_keys = {
    {K(F13), 0x7C, 0x64}, {K(F14), 0x7D, 0x65}, {K(F15), 0x7E, 0x66}, {K(F16), 0x7F, 0x67},
    {K(F17), 0x80, 0x68}, {K(F18), 0x81, 0x69}, {K(F19), 0x82, 0x6A}, {K(F20), 0x83, 0x6B},
    {K(F21), 0x84, 0x6C}, {K(F22), 0x85, 0x6D}, {K(F23), 0x86, 0x6E}, {K(F24), 0x87, 0x76},
    {K(MUTE), 0xAD, 0xE020}, {K(AUDIOMUTE), 0xAD, 0xE020}, {K(VOLUMEDOWN), 0xAE, 0xE02E}, {K(VOLUMEUP), 0xAF, 0xE030},
    {K(AUDIONEXT), 0xB0, 0xE019}, {K(AUDIOPREV), 0xB1, 0xE010}, {K(AUDIOSTOP), 0xB2, 0xE024}, {K(AUDIOPLAY), 0xB3, 0xE022},
    {K(MAIL), 0xB4, 0xE06C}, {K(MEDIASELECT), 0xB5, 0xE06D}, {K(COMPUTER), 0xB6, 0xE06B}, {K(CALCULATOR), 0xB7, 0xE021},
    {K(WWW), 0xAC, 0xE032}, {K(AC_HOME), 0xAC, 0xE032}, {K(AC_SEARCH), 0xAA, 0xE065}, {K(AC_BOOKMARKS), 0xAB, 0xE066},
    {K(AC_REFRESH), 0xA8, 0xE067}, {K(AC_STOP), 0xA9, 0xE068}, {K(AC_FORWARD), 0xA7, 0xE069}, {K(AC_BACK), 0xA6, 0xE06A},
    {K(SLEEP), 0x5F, 0xE05F}, {K(INTERNATIONAL1), 0xE2, 0x73}, {K(INTERNATIONAL3), 0xDC, 0x7D},
    {K(INTERNATIONAL4), 0x1C, 0x79}, {K(INTERNATIONAL5), 0x1D, 0x7B}, {K(LANG1), 0x15, 0xF2}, {K(LANG2), 0x19, 0xF1},
};

WindowsKey expected_key(const Documented& d) {
    const uint8_t prefix = static_cast<uint8_t>(d.scan >> 8);
    const uint8_t flags = prefix == 0xE0 ? k_key_flag_e0 : prefix == 0xE1 ? k_key_flag_e1 : 0;
    return WindowsKey{d.vk, static_cast<uint8_t>(d.scan & 0xFF), flags};
}

TEST(KeyTranslation, DocumentedKeysMatchWindows) {
    EXPECT_EQ(k_pc105.size(), 105u);
    std::set<std::pair<uint8_t, uint8_t>> pc105_keys;  // (scan, flags)
    for (const auto* list : {&k_pc105, &k_extra_keys}) {
        for (const Documented& d : *list) {
            const auto got = translate_key(d.scancode, d.us_key, true);
            ASSERT_TRUE(got.has_value()) << SDL_GetScancodeName(d.scancode);
            EXPECT_EQ(*got, expected_key(d)) << SDL_GetScancodeName(d.scancode);
            // Two keys of the keyboard reaching the remote as one would be a
            // loss the user cannot work around.
            if (list == &k_pc105) {
                EXPECT_TRUE(pc105_keys.insert({got->scan_code, got->flags}).second) << SDL_GetScancodeName(d.scancode);
            }
        }
    }
}

TEST(KeyTranslation, CharacterKeysFollowTheLayout) {
    const std::vector<std::pair<Documented, const char*>> cases = {
        {{K(Q), 0x41, 0x10, 'a'}, "AZERTY A"},
        {{K(SEMICOLON), 0x4D, 0x27, 'm'}, "AZERTY M"},
        {{K(M), 0xBC, 0x32, ','}, "AZERTY comma"},
        {{K(Y), 0x5A, 0x15, 'z'}, "QWERTZ Z"},
        {{K(RIGHTBRACKET), 0xBB, 0x1B, '+'}, "QWERTZ plus"},
        {{K(APOSTROPHE), 0xDE, 0x28, 0xE4}, "a-umlaut keeps the key's place"},
        {{K(NONUSBACKSLASH), 0xE2, 0x56, '<'}, "'<' keeps the key's place"},
        {{K(1), 0x31, 0x02, '&'}, "the number row stays VK_0..VK_9"},
        {{K(6), 0x36, 0x07, '-'}, "the number row stays VK_0..VK_9"},
        {{K(ESCAPE), 0x1B, 0x01, 'q'}, "non-character keys ignore the layout"},
    };
    for (const auto& [d, why] : cases) EXPECT_EQ(translate_key(d.scancode, d.us_key, true), expected_key(d)) << why;
}

TEST(KeyTranslation, KeypadFollowsNumLock) {
    // Num Lock off: the navigation keys, same make code, still no E0.
    const std::vector<Documented> off = {
        {K(KP_7), 0x24, 0x47}, {K(KP_8), 0x26, 0x48}, {K(KP_9), 0x21, 0x49}, {K(KP_4), 0x25, 0x4B},
        {K(KP_5), 0x0C, 0x4C}, {K(KP_6), 0x27, 0x4D}, {K(KP_1), 0x23, 0x4F}, {K(KP_2), 0x28, 0x50},
        {K(KP_3), 0x22, 0x51}, {K(KP_0), 0x2D, 0x52}, {K(KP_PERIOD), 0x2E, 0x53},
    };
    for (const Documented& d : off) {
        EXPECT_EQ(translate_key(d.scancode, SDLK_UNKNOWN, false), expected_key(d)) << SDL_GetScancodeName(d.scancode);
    }
}

TEST(KeyTranslation, UnknownKeysGiveNothing) {
    for (SDL_Scancode sc : {K(UNKNOWN), K(KP_EQUALS), K(BRIGHTNESSUP), K(EJECT), K(AUDIOREWIND), SDL_NUM_SCANCODES,
                            static_cast<SDL_Scancode>(1000)}) {
        EXPECT_FALSE(translate_key(sc, 'a', true).has_value()) << static_cast<int>(sc);
    }
}

}  // namespace
}  // namespace nb
