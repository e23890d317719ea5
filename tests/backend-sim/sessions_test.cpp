// Renting a PC: preparation, streaming, connect details, per-second charges,
// and every way a session ends. The clock is moved by hand.
#include "tests/backend-sim/api_fixture.h"

namespace nb::test {
namespace {

constexpr int64_t k_prepare_ms = 3000;

class Sessions : public BackendApiTest {
protected:
    void SetUp() override { start(options()); }
    static BackendOptions options(int64_t starting_balance = 2000, int stream_fps = 0) {
        return seeded_options([&](BackendOptions& o) {
            o.prepare_delay_ms = k_prepare_ms;
            o.starting_balance_cents = starting_balance;
            if (stream_fps > 0) o.stream_fps = stream_fps;
        });
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
    Answer connect = get("/api/sessions/active/connect", token);
    ASSERT_EQ(connect.status, 200);
    EXPECT_EQ(connect.body["token"].get<std::string>().size(), 32u);
    connect.body.erase("token");
    EXPECT_EQ(connect.body, (nlohmann::json{{"session_id", id}, {"status", "streaming"}, {"host", "127.0.0.1"},
                                            {"control_port", 48001}, {"port", 47998}, {"codec", "h264"},
                                            {"fps", 60}, {"bitrate", 20000}}));

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
        if (!c.field.empty()) {
            expect_names(a, "body", c.field, c.body.dump());
            continue;
        }
        EXPECT_EQ(a.status, c.status) << c.body.dump();
        EXPECT_TRUE(a.body["detail"].is_string()) << c.body.dump();
    }
    EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
    EXPECT_EQ(rent("", "srv-pebble-1660").status, 401);

    const std::string id = rent(token, "srv-pebble-1660").body.value("session_id", "");
    ASSERT_FALSE(id.empty());
    const Answer second = rent(token, "srv-drift-6600");
    EXPECT_EQ(second.status, 409);
    EXPECT_EQ(second.body["detail"], "You already have an active session");
    // Only the owner can end it.
    EXPECT_EQ(del("/api/sessions/" + id, sign_up("oth@example.org")).status, 404);
    EXPECT_EQ(del("/api/sessions/" + id).status, 401);
    EXPECT_EQ(get("/api/sessions/active", token).body["id"], id);
}

// The agent is told "h265" for HEVC, and no more frames than the machine gives.
TEST_F(Sessions, ConnectDetailsSuitTheAgentAndTheMachine) {
    start(options(2000, 144));
    const std::string first = sign_up("hal@example.org"), second = sign_up("ivy@example.org");
    ASSERT_EQ(rent(first, "srv-stratus-3090", "hevc").status, 201);
    ASSERT_EQ(rent(second, "srv-breeze-3060").status, 201);  // a 60 fps machine
    clock_.advance_ms(k_prepare_ms);
    EXPECT_EQ(get("/api/sessions/active/connect", first).body["codec"], "h265");
    EXPECT_EQ(get("/api/sessions/active/connect", second).body["fps"], 60);
}

TEST_F(Sessions, SessionsEndWhenMoneyOrHoursRunOut) {
    struct Case {
        const char *reason, *server;
        int64_t balance;
        double hours;
        int duration_s, cost_cents, balance_after;
    };
    for (const Case c : {
             // 10 cents buy 113 s at 349 cents an hour (114 s would cost 11).
             Case{"Balance exhausted", "srv-aurora-4090", 10, 1.0, 113, 10, 0},
             // 36 s at 69 cents an hour is 0.69 cents: nothing to pay.
             Case{"Rental period over", "srv-breeze-3060", 2000, 0.01, 36, 0, 2000},
         }) {
        SCOPED_TRACE(c.reason);
        start(options(c.balance));
        const std::string token = sign_up("pat@example.org");
        const std::string id = rent(token, c.server, "h264", c.hours).body.value("session_id", "");
        clock_.advance_ms(k_prepare_ms + 1'000'000);
        EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
        EXPECT_EQ(balance(token), c.balance_after);
        const Answer ended = del("/api/sessions/" + id, token);
        EXPECT_EQ(ended.body["endReason"], c.reason);
        EXPECT_EQ(ended.body["durationSec"], c.duration_s);
        EXPECT_EQ(ended.body["costCents"], c.cost_cents);
        EXPECT_EQ(rent(token, c.server).status, c.balance_after == 0 ? 402 : 201);
    }
}

}  // namespace
}  // namespace nb::test
