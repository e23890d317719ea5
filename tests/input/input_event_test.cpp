// The record's bytes are what the agent decrypts: offsets, byte order and
// the zeroed tail are checked byte by byte.
#include "input/input_event.h"

#include <gtest/gtest.h>

#include <vector>

namespace nb {
namespace {

TEST(InputEvent, SerialisesLittleEndianWithoutGaps) {
    InputEvent move = InputEvent::mouse_move(-2, 300, k_button_left | k_button_middle);
    move.seq = 0xBEEF;
    move.timestamp_us = 0x0102030405060708ULL;
    const std::array<uint8_t, 28> expected = {
        0x01, 0x00, 0xEF, 0xBE,                          // version, type, seq
        0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // timestamp_us
        0xFE, 0xFF, 0x2C, 0x01,                          // dx -2, dy 300
        0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};          // left | middle, reserved
    EXPECT_EQ(move.to_bytes(), expected);

    const auto key = InputEvent::key(false, 0x11, 0x1D, k_key_flag_e0 | k_key_flag_break).to_bytes();
    EXPECT_EQ(std::vector<uint8_t>(key.begin() + 12, key.begin() + 17), (std::vector<uint8_t>{0x11, 0, 0x1D, 3, 0}));
    EXPECT_EQ(key[1], 4);
    EXPECT_EQ(InputEvent::key(true, 0x41, 0x1E, 0).to_bytes()[1], 3);
    const auto wheel = InputEvent::mouse_wheel(-120).to_bytes();
    EXPECT_EQ(std::vector<uint8_t>(wheel.begin() + 12, wheel.begin() + 17), (std::vector<uint8_t>{0, 0, 0x88, 0xFF, 0}));
}

TEST(InputEvent, ParseRoundTripsAndRejectsForeignBytes) {
    InputEvent e = InputEvent::key(true, 0x41, 0x1E, 0);
    e.seq = 65535;
    e.timestamp_us = 123456789;
    const auto bytes = e.to_bytes();
    ASSERT_EQ(InputEvent::parse(bytes), e);

    EXPECT_FALSE(InputEvent::parse(std::span(bytes).first(27)));
    std::vector<uint8_t> longer(bytes.begin(), bytes.end());
    longer.push_back(0);
    EXPECT_FALSE(InputEvent::parse(longer));
    for (const auto& [offset, value] : {std::pair{0, 2}, std::pair{1, 5}}) {  // version, type
        auto bad = bytes;
        bad[offset] = static_cast<uint8_t>(value);
        EXPECT_FALSE(InputEvent::parse(bad)) << offset;
    }
}

}  // namespace
}  // namespace nb
