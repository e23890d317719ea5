// Media header layout, media decryption against an independent sealer, and
// the input datagram format.
#include <gtest/gtest.h>
#include <sodium.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "net/decryption.h"
#include "net/input_crypto.h"
#include "net/media_encryption.h"
#include "net/media_header.h"
#include "tests/support/log_capture.h"
#include "video_stream.h"

namespace nb {
namespace {

// Seals with libsodium directly, building nonce and associated data by hand
// from the wire bytes, so a mistake shared by our sealer and opener shows.
std::vector<uint8_t> seal_by_hand(const std::vector<uint8_t>& key, const std::array<uint8_t, 22>& header,
                                  const std::vector<uint8_t>& plaintext) {
    std::array<uint8_t, 12> nonce{};
    for (int i = 0; i < 10; ++i) nonce[i] = header[i];
    std::vector<uint8_t> datagram(header.begin(), header.end());
    datagram.resize(22 + plaintext.size() + 16);
    unsigned long long n = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt(datagram.data() + 22, &n, plaintext.data(), plaintext.size(),
                                              header.data(), 22, nullptr, nonce.data(), key.data());
    return datagram;
}

std::array<uint8_t, 22> sample_header_bytes() {
    return {0x78, 0x56, 0x34, 0x12,  // nonce_prefix 0x12345678
            0x2a, 0x00, 0x00, 0x80,  // frame_id 0x8000002a
            0x03, 0x01,              // packet_index 0x0103
            0x36, 0x00,              // packet_count 54
            0x03, 0x07,              // flags key|fec, fec_index 7
            1,    2,    3,    4,    5, 6, 7, 8};
}

TEST(MediaHeader, ParsesAndWritesTheWireLayout) {
    const auto bytes = sample_header_bytes();
    const auto header = MediaHeader::parse(bytes);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->nonce_prefix, 0x12345678u);
    EXPECT_EQ(header->frame_id, 0x8000002au);
    EXPECT_EQ(header->packet_index, 0x0103);
    EXPECT_EQ(header->packet_count, 54);
    EXPECT_TRUE(header->key_frame());
    EXPECT_TRUE(header->is_fec());
    EXPECT_EQ(header->fec_index, 7);
    EXPECT_EQ(header->to_bytes(), bytes);
    EXPECT_FALSE(MediaHeader::parse(std::span(bytes).first(21)));

    const auto nonce = media_nonce(bytes.data());
    const std::array<uint8_t, 12> expected{0x78, 0x56, 0x34, 0x12, 0x2a, 0, 0, 0x80, 0x03, 0x01, 0, 0};
    EXPECT_EQ(nonce, expected);
}

// A keyed decryption, the lines it logs and room for the largest message.
class DecryptionTest : public ::testing::Test {
protected:
    DecryptionTest() { EXPECT_TRUE(decryption_.set_key(key_)); }

    // Opens the datagram's ciphertext (by default all of it) into `out_[0, capacity)`.
    bool open(Decryption& decryption, const std::vector<uint8_t>& datagram, size_t capacity = 1162,
              size_t ct_len = SIZE_MAX) {
        return decryption.decrypt(datagram.data(), datagram.data() + 22,
                                  ct_len == SIZE_MAX ? datagram.size() - 22 : ct_len, out_.data(), capacity, length_);
    }
    bool open(const std::vector<uint8_t>& datagram, size_t capacity = 1162) {
        return open(decryption_, datagram, capacity);
    }

    test::LogCapture logs_;
    const std::vector<uint8_t> key_ = test::video_key();
    Decryption decryption_;
    std::vector<uint8_t> out_ = std::vector<uint8_t>(1162);
    size_t length_ = 12345;
};

TEST_F(DecryptionTest, OpensWhatAnIndependentSealerProduced) {
    std::vector<uint8_t> plaintext(1162);
    for (size_t i = 0; i < plaintext.size(); ++i) plaintext[i] = static_cast<uint8_t>(i * 31);
    const auto datagram = seal_by_hand(key_, sample_header_bytes(), plaintext);
    ASSERT_TRUE(open(datagram));
    EXPECT_EQ(length_, 1162u);
    EXPECT_EQ(out_, plaintext);

    MediaEncryption sealer;
    ASSERT_TRUE(sealer.set_key(key_));
    EXPECT_EQ(sealer.seal(*MediaHeader::parse(sample_header_bytes()), plaintext), datagram);
}

// A tampered header byte or a wrong key fails; the first three failures are
// dumped in full, numbered, nonce and header in hex.
TEST_F(DecryptionTest, EveryHeaderByteIsAuthenticatedAndFailuresAreDumped) {
    const auto datagram = seal_by_hand(key_, sample_header_bytes(), std::vector<uint8_t>(100, 0x5a));
    for (size_t i = 0; i < 22; ++i) {
        auto tampered = datagram;
        tampered[i] ^= 0x40;
        EXPECT_FALSE(open(tampered)) << "header byte " << i;
        EXPECT_EQ(length_, 12345u) << "out length must stay untouched on failure";
    }
    EXPECT_EQ(decryption_.auth_failures(), 22u);
    const auto diag = logs_.matching("Decryption: DIAG auth failed #");
    ASSERT_EQ(diag.size(), 3u);
    EXPECT_EQ(diag[0],
              "Decryption: DIAG auth failed #1 frame=2147483690 pkt=259/54 ct_len=116 ad_len=22 "
              "nonce=38 56 34 12 2a 00 00 80 03 01 00 00 "
              "hdr=38 56 34 12 2a 00 00 80 03 01 36 00 03 07 01 02 03 04 05 06 07 08");
    EXPECT_NE(diag[2].find("#3 "), std::string::npos);
    EXPECT_EQ(hex_bytes({}), "");

    Decryption wrong_key;
    ASSERT_TRUE(wrong_key.set_key(std::vector<uint8_t>(32, 3)));
    EXPECT_FALSE(open(wrong_key, datagram));
    EXPECT_EQ(wrong_key.auth_failures(), 1u);
}

TEST_F(DecryptionTest, KeyLengthMessageLengthAndCapacityBoundaries) {
    const auto empty = seal_by_hand(key_, sample_header_bytes(), {});
    Decryption unkeyed;
    EXPECT_FALSE(open(unkeyed, empty));
    EXPECT_EQ(logs_.count_containing("Decryption: attempted decrypt before key is set"), 1u);

    // A bare tag is a valid, empty message.
    EXPECT_TRUE(open(empty, 0));
    EXPECT_EQ(length_, 0u);
    // Shorter than a tag: refused without a tag check.
    EXPECT_FALSE(open(decryption_, empty, 64, 15));
    EXPECT_EQ(logs_.count_containing("Decryption: ciphertext too short (15 bytes)"), 1u);

    const auto forty = seal_by_hand(key_, sample_header_bytes(), std::vector<uint8_t>(40, 1));
    EXPECT_TRUE(open(forty, 40));
    EXPECT_EQ(length_, 40u);
    EXPECT_FALSE(open(forty, 39));
    EXPECT_EQ(logs_.count_containing("Decryption: ciphertext 56B exceeds output capacity 39B — dropped"), 1u);
    EXPECT_EQ(decryption_.auth_failures(), 0u);

    for (size_t bad : {31, 33}) {
        EXPECT_FALSE(unkeyed.set_key(std::vector<uint8_t>(bad, 1)));
        EXPECT_EQ(logs_.count_containing("Decryption: invalid key length " + std::to_string(bad) + " (expected 32)"),
                  1u);
    }
    EXPECT_FALSE(unkeyed.key_set());

    // A refused key keeps the one installed before.
    EXPECT_FALSE(decryption_.set_key(std::vector<uint8_t>(0)));
    EXPECT_TRUE(open(seal_by_hand(key_, sample_header_bytes(), std::vector<uint8_t>(8)), 8));
}

TEST(InputCrypto, DatagramLayoutByteByByte) {
    AeadKey key{};
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(200 - i);
    InputEvent event = InputEvent::mouse_move(-5, 300, k_button_left);
    event.seq = 0xBEEF;
    event.timestamp_us = 0x0102030405060708ull;
    const auto record = event.to_bytes();
    const InputDatagram datagram = seal_input_datagram(key, record);

    ASSERT_EQ(datagram.size(), 56u);
    // Nonce: seq, timestamp, two zeros, copied from the record as stored.
    for (int i = 0; i < 10; ++i) EXPECT_EQ(datagram[i], record[2 + i]) << i;
    EXPECT_EQ(datagram[10], 0);
    EXPECT_EQ(datagram[11], 0);

    // The rest opens with libsodium directly under that nonce, no AD.
    std::array<uint8_t, 28> plain{};
    unsigned long long n = 0;
    ASSERT_EQ(crypto_aead_chacha20poly1305_ietf_decrypt(plain.data(), &n, nullptr, datagram.data() + 12, 44, nullptr,
                                                        0, datagram.data(), key.data()),
              0);
    EXPECT_EQ(plain, record);

    const auto opened = open_input_datagram(key, datagram);
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, record);
    auto tampered = datagram;
    tampered[5] ^= 1;
    EXPECT_FALSE(open_input_datagram(key, tampered));
    EXPECT_FALSE(open_input_datagram(key, std::span(datagram).first(55)));
}

}  // namespace
}  // namespace nb
