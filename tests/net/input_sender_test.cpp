// InputSender against a loopback socket playing the agent's input port.
#include <gtest/gtest.h>

#include <asio.hpp>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/log_capture.h"
#include "loopback_peer.h"
#include "net/input_crypto.h"
#include "net/input_sender.h"

namespace nb {
namespace {

using namespace std::chrono_literals;

class InputSenderTest : public ::testing::Test {
protected:
    InputSenderTest() : agent_(io_), sender_(io_, agent_.port(), "127.0.0.1") {
        for (size_t i = 0; i < key_.size(); ++i) key_[i] = static_cast<uint8_t>(i * 3 + 1);
    }

    static InputEvent stamped(InputEvent event, uint16_t seq) {
        event.seq = seq;
        event.timestamp_us = 0x1122334455667788ull + seq;
        return event;
    }

    test::LogCapture logs_;
    asio::io_context io_;
    test::Peer agent_;
    InputSender sender_;
    AeadKey key_{};
};

TEST_F(InputSenderTest, SendsEachRecordEncryptedAndRepeatsButtonsWheelAndKeys) {
    ASSERT_TRUE(sender_.connect("127.0.0.1"));
    ASSERT_TRUE(sender_.set_key(key_));
    const std::vector<InputEvent> batch{
        stamped(InputEvent::mouse_move(-3, 4, 0), 1),
        stamped(InputEvent::mouse_buttons(k_button_left), 2),
        stamped(InputEvent::mouse_wheel(-120), 3),
        stamped(InputEvent::key(true, 0x41, 0x1E, 0), 4),
        stamped(InputEvent::key(false, 0x41, 0x1E, k_key_flag_break), 65535),
    };
    sender_.send_events(batch);
    EXPECT_EQ(sender_.packets_sent(), 9u);

    const auto datagrams = agent_.collect(9);
    ASSERT_EQ(datagrams.size(), 9u);
    std::vector<InputEvent> opened;
    for (const auto& d : datagrams) {
        ASSERT_EQ(d.size(), 56u);
        const auto record = open_input_datagram(key_, d);
        ASSERT_TRUE(record);
        const auto resealed = seal_input_datagram(key_, *record);  // the nonce comes from the record
        EXPECT_TRUE(std::equal(d.begin(), d.end(), resealed.begin()));
        opened.push_back(*InputEvent::parse(*record));
    }
    EXPECT_EQ(opened[0], batch[0]);
    for (size_t i = 1; i < batch.size(); ++i) {
        EXPECT_EQ(opened[2 * i - 1], batch[i]);
        EXPECT_EQ(datagrams[2 * i - 1], datagrams[2 * i]) << "repeats are byte-identical";
    }
    EXPECT_EQ(logs_.count_containing("InputSender: connected to 127.0.0.1:" + std::to_string(agent_.port()) +
                          " (DSCP=CS7)"),
              1u);
}

// Refused keys leave none installed: every event is dropped, with one line.
TEST_F(InputSenderTest, KeyRulesAndDroppingWithoutAKey) {
    EXPECT_FALSE(sender_.set_key({}));
    EXPECT_EQ(logs_.count_containing("Launcher: input key is EMPTY — input events will be dropped"), 1u);
    EXPECT_FALSE(sender_.set_key(std::vector<uint8_t>(31, 1)));
    EXPECT_EQ(logs_.count_containing("InputSender: invalid key length 31"), 1u);

    ASSERT_TRUE(sender_.connect("127.0.0.1"));
    std::vector<InputEvent> batch(10, stamped(InputEvent::mouse_buttons(1), 9));
    sender_.send_events(batch);
    sender_.send_events(batch);
    EXPECT_EQ(sender_.packets_sent(), 0u);
    EXPECT_EQ(logs_.count_containing("InputSender: encryption key not set — dropping input events"), 1u);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(agent_.drain().empty());

    EXPECT_TRUE(sender_.set_key(key_));
    EXPECT_EQ(logs_.count_containing("InputSender: encryption key set"), 1u);
}

TEST_F(InputSenderTest, NothingIsSentBeforeConnectAfterAFailedOneOrAfterStop) {
    ASSERT_TRUE(sender_.set_key(key_));
    const std::vector<InputEvent> batch{stamped(InputEvent::key(true, 0x20, 0x39, 0), 1)};
    sender_.send_events(batch);
    sender_.send_event(batch[0]);
    EXPECT_FALSE(sender_.connect(""));
    EXPECT_FALSE(sender_.running());
    EXPECT_EQ(logs_.count_containing("InputSender: resolve :" + std::to_string(agent_.port()) + " failed: "), 1u);
    sender_.send_events(batch);
    EXPECT_EQ(sender_.packets_sent(), 0u);

    ASSERT_TRUE(sender_.connect("127.0.0.1"));
    sender_.send_event(batch[0]);  // one datagram, no repeat
    EXPECT_EQ(sender_.packets_sent(), 1u);
    EXPECT_EQ(agent_.collect(1).size(), 1u);

    sender_.stop();
    sender_.stop();
    EXPECT_EQ(logs_.matching("InputSender: stopped"), std::vector<std::string>{"InputSender: stopped (1 packets sent)"});
    const size_t lines_before = logs_.texts().size();
    sender_.send_events(batch);
    io_.run();  // the posted close
    sender_.send_events(batch);
    EXPECT_EQ(sender_.packets_sent(), 1u);
    EXPECT_EQ(logs_.texts().size(), lines_before);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(agent_.drain().empty());
}

}  // namespace
}  // namespace nb
