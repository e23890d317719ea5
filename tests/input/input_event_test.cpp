// The record's bytes are what the agent decrypts: offsets, byte order and
// the zeroed tail are checked byte by byte.
#include "input/input_event.h"

#include <gtest/gtest.h>

#include <vector>

namespace nb {
namespace {

TEST(InputEvent, SerialisesLittleEndianWithoutGaps) {
    InputEvent e = InputEvent::mouse_move(-2, 300, k_button_left | k_button_middle);
    e.seq = 0xBEEF;
    e.timestamp_us = 0x0102030405060708ULL;
    const auto bytes = e.to_bytes();
    const std::array<uint8_t, 28> expected = {
        0x01, 0x00, 0xEF, 0xBE,                          // version, type, seq
        0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // timestamp_us
        0xFE, 0xFF, 0x2C, 0x01,                          // dx -2, dy 300
        0x05,                                            // left | middle
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
}

TEST(InputEvent, KeyAndWheelPayloads) {
    const auto key = InputEvent::key(false, 0x11, 0x1D, k_key_flag_e0 | k_key_flag_break).to_bytes();
    EXPECT_EQ(key[1], 4);
    EXPECT_EQ(key[12], 0x11);
    EXPECT_EQ(key[13], 0x00);
    EXPECT_EQ(key[14], 0x1D);
    EXPECT_EQ(key[15], 0x03);
    EXPECT_EQ(key[16], 0x00);

    const auto wheel = InputEvent::mouse_wheel(-120).to_bytes();
    EXPECT_EQ(wheel[1], 2);
    EXPECT_EQ(wheel[12], 0x00);
    EXPECT_EQ(wheel[14], 0x88);  // -120 = 0xFF88
    EXPECT_EQ(wheel[15], 0xFF);
}

TEST(InputEvent, ParseRoundTripsAndRejectsForeignBytes) {
    InputEvent e = InputEvent::key(true, 0x41, 0x1E, 0);
    e.seq = 65535;
    e.timestamp_us = 123456789;
    const auto bytes = e.to_bytes();
    const auto back = InputEvent::parse(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, e);
    EXPECT_EQ(back->virtual_key(), 0x41);
    EXPECT_EQ(back->scan_code(), 0x1E);

    EXPECT_FALSE(InputEvent::parse(std::span(bytes).first(27)).has_value());
    std::vector<uint8_t> longer(bytes.begin(), bytes.end());
    longer.push_back(0);
    EXPECT_FALSE(InputEvent::parse(longer).has_value());
    auto bad_version = bytes;
    bad_version[0] = 2;
    EXPECT_FALSE(InputEvent::parse(bad_version).has_value());
    auto bad_type = bytes;
    bad_type[1] = 5;
    EXPECT_FALSE(InputEvent::parse(bad_type).has_value());
}

}  // namespace
}  // namespace nb
