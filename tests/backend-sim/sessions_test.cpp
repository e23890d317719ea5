// Renting a PC: preparation, streaming, connect details, per-second charges,
// and every way a session ends. The clock is moved by hand.
#include "tests/backend-sim/api_fixture.h"

namespace nb::test {
namespace {

constexpr int64_t k_prepare_ms = 3000;

class Sessions : public BackendApiTest {
protected:
    void SetUp() override { start(options()); }
    BackendOptions options(int64_t starting_balance = 2000) {
        BackendOptions o = test_backend_options();
        o.seed_demo = true;
        o.prepare_delay_ms = k_prepare_ms;
        o.starting_balance_cents = starting_balance;
        return o;
    }
    Answer rent(const std::string& token, const std::string& server, const std::string& codec = "h264",
                double hours = 1.0) {
        return post("/api/sessions", {{"codec_preference", codec}, {"duration_hours", hours}, {"server_id", server}},
                    token);
    }
    nlohmann::json server(const std::string& id) {
        const Answer list = get("/api/servers?limit=100");
        for (const auto& s : list.body["servers"])
            if (s["id"] == id) return s;
        return {};
    }
};

TEST_F(Sessions, RentedSessionPreparesStreamsChargesAndEnds) {
    const std::string token = sign_up("rita@example.org");
    const int before_sessions = server("srv-aurora-4090")["totalSessions"];
    const Answer created = rent(token, "srv-aurora-4090");
    ASSERT_EQ(created.status, 201) << created.body.dump();
    const std::string id = created.body.value("session_id", "");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(created.body["status"], "preparing");
    EXPECT_EQ(server("srv-aurora-4090")["status"], "in_session");
    EXPECT_EQ(server("srv-aurora-4090")["totalSessions"], before_sessions + 1);

    Answer active = get("/api/sessions/active", token);
    EXPECT_EQ(active.body["status"], "preparing");
    EXPECT_EQ(active.body["id"], id);
    EXPECT_EQ(active.body["durationSec"], 0);
    const Answer early = get("/api/sessions/active/connect", token);
    EXPECT_EQ(early.status, 409);
    EXPECT_TRUE(early.body["detail"].is_string());

    clock_.advance_ms(k_prepare_ms);
    active = get("/api/sessions/active", token);
    EXPECT_EQ(active.body["status"], "streaming");
    EXPECT_EQ(active.body["serverHostname"], "aurora.fra1.nubora.test");
    const Answer connect = get("/api/sessions/active/connect", token);
    ASSERT_EQ(connect.status, 200);
    EXPECT_EQ(connect.body["session_id"], id);
    EXPECT_EQ(connect.body["status"], "streaming");
    EXPECT_EQ(connect.body["host"], "127.0.0.1");
    EXPECT_EQ(connect.body["control_port"], 48001);
    EXPECT_EQ(connect.body["port"], 47998);
    EXPECT_EQ(connect.body["codec"], "h264");
    EXPECT_EQ(connect.body["fps"], 60);
    EXPECT_EQ(connect.body["bitrate"], 20000);
    EXPECT_EQ(connect.body["token"].get<std::string>().size(), 32u);

    // 600 s at 349 cents an hour is 58.17 cents: charged whole cents, rounded down.
    clock_.advance_ms(600'000 + 999);
    active = get("/api/sessions/active", token);
    EXPECT_EQ(active.body["durationSec"], 600);
    EXPECT_EQ(active.body["costCents"], 58);
    EXPECT_EQ(balance(token), 2000 - 58);

    const Answer ended = del("/api/sessions/" + id, token);
    ASSERT_EQ(ended.status, 200);
    EXPECT_EQ(ended.body["status"], "ended");
    EXPECT_EQ(ended.body["costCents"], 58);
    EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
    EXPECT_EQ(get("/api/sessions/active/connect", token).body, nullptr);
    EXPECT_EQ(server("srv-aurora-4090")["status"], "online");

    // Nothing more is charged once it has ended; ending it again changes nothing.
    clock_.advance_ms(3'600'000);
    EXPECT_EQ(balance(token), 2000 - 58);
    EXPECT_EQ(del("/api/sessions/" + id, token).body, ended.body);
}

TEST_F(Sessions, RefusedRentalsSayWhy) {
    const std::string token = sign_up("sam@example.org");
    struct Case {
        nlohmann::json body;
        int status;
        std::string field;  // for 422: the field named
    };
    const std::vector<Case> cases = {
        {{{"server_id", "srv-none"}}, 404, ""},
        {{{"server_id", "srv-halo-3070"}}, 409, ""},       // offline
        {{{"server_id", "srv-cirrus-4070"}}, 409, ""},     // rented by someone else
        {{{"server_id", "srv-spark-a770"}}, 409, ""},      // maintenance
        {{{"server_id", "srv-pebble-1660"}, {"codec_preference", "h265"}}, 422, "codec_preference"},
        {{{"server_id", "srv-pebble-1660"}, {"codec_preference", "vp9"}}, 422, "codec_preference"},
        {{{"server_id", "srv-pebble-1660"}, {"duration_hours", 0}}, 422, "duration_hours"},
        {{{"server_id", "srv-pebble-1660"}, {"duration_hours", 25}}, 422, "duration_hours"},
        {{{"server_id", "srv-pebble-1660"}, {"duration_hours", "1"}}, 422, "duration_hours"},
        {{{"codec_preference", "h264"}}, 422, "server_id"},
    };
    for (const auto& c : cases) {
        const Answer a = post("/api/sessions", c.body, token);
        EXPECT_EQ(a.status, c.status) << c.body.dump();
        if (c.field.empty()) {
            EXPECT_TRUE(a.body["detail"].is_string()) << c.body.dump();
        } else {
            ASSERT_TRUE(a.body["detail"].is_array()) << c.body.dump();
            EXPECT_EQ(a.body["detail"][0]["loc"], (nlohmann::json{"body", c.field})) << c.body.dump();
        }
    }
    EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
    EXPECT_EQ(rent("", "srv-pebble-1660").status, 401);

    ASSERT_EQ(rent(token, "srv-pebble-1660").status, 201);
    const Answer second = rent(token, "srv-drift-6600");
    EXPECT_EQ(second.status, 409);
    EXPECT_EQ(second.body["detail"], "You already have an active session");
}

TEST_F(Sessions, CodecNamesAreNormalisedForTheAgent) {
    const std::string token = sign_up("hal@example.org");
    ASSERT_EQ(rent(token, "srv-stratus-3090", "hevc").status, 201);
    clock_.advance_ms(k_prepare_ms);
    EXPECT_EQ(get("/api/sessions/active/connect", token).body["codec"], "h265");
}

TEST_F(Sessions, FrameRateIsCappedByTheServer) {
    BackendOptions o = options();
    o.stream_fps = 144;
    start(o);
    const std::string token = sign_up("ivy@example.org");
    ASSERT_EQ(rent(token, "srv-breeze-3060").status, 201);  // a 60 fps machine
    clock_.advance_ms(k_prepare_ms);
    EXPECT_EQ(get("/api/sessions/active/connect", token).body["fps"], 60);
}

TEST_F(Sessions, OnlyTheOwnerCanEndASession) {
    const std::string owner = sign_up("own@example.org");
    const std::string other = sign_up("oth@example.org");
    const std::string id = rent(owner, "srv-drift-6600").body.value("session_id", "");
    EXPECT_EQ(del("/api/sessions/" + id, other).status, 404);
    EXPECT_EQ(del("/api/sessions/" + id).status, 401);
    EXPECT_EQ(get("/api/sessions/active", owner).body["id"], id);
}

TEST_F(Sessions, RunningOutOfMoneyEndsTheSessionAtZero) {
    start(options(10));
    const std::string token = sign_up("pat@example.org");
    const std::string id = rent(token, "srv-aurora-4090").body.value("session_id", "");
    // 10 cents buy 113 s at 349 cents an hour (114 s would cost 11).
    clock_.advance_ms(k_prepare_ms + 1'000'000);
    EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
    EXPECT_EQ(balance(token), 0);
    const Answer ended = del("/api/sessions/" + id, token);
    EXPECT_EQ(ended.body["endReason"], "Balance exhausted");
    EXPECT_EQ(ended.body["durationSec"], 113);
    EXPECT_EQ(ended.body["costCents"], 10);
    EXPECT_EQ(rent(token, "srv-aurora-4090").status, 402);
}

TEST_F(Sessions, TheRentalEndsWhenItsHoursAreUsed) {
    const std::string token = sign_up("quin@example.org");
    const std::string id = rent(token, "srv-breeze-3060", "h264", 0.01).body.value("session_id", "");
    clock_.advance_ms(k_prepare_ms + 100'000);
    EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
    const Answer ended = del("/api/sessions/" + id, token);
    EXPECT_EQ(ended.body["endReason"], "Rental period over");
    EXPECT_EQ(ended.body["durationSec"], 36);
    // 36 s at 69 cents an hour is 0.69 cents: nothing to pay.
    EXPECT_EQ(balance(token), 2000);
}

}  // namespace
}  // namespace nb::test
