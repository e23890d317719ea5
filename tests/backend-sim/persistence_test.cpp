// State in a database file outlives the simulator: accounts, tokens,
// balances, the catalogue and ended sessions; sessions open at a restart are
// closed without charging the time the backend was away.
#include "tests/backend-sim/api_fixture.h"
#include "tests/support/client_process.h"

namespace nb::test {
namespace {

class Persistence : public BackendApiTest {
protected:
    void SetUp() override {
        dir_ = fresh_temp_dir("backend-db");
        start(options());
    }
    BackendOptions options(const std::string& db = "state.db") {
        return seeded_options([&](BackendOptions& o) {
            o.db_path = (dir_ / db).string();
            o.prepare_delay_ms = 1000;
        });
    }
    void restart() {
        sim_.reset();
        start(options());
    }
    std::filesystem::path dir_;
};

TEST_F(Persistence, AccountsTokensAndBalancesSurviveARestart) {
    const std::string token = sign_up("kim@example.org", "kims-password");
    const std::string id = post("/api/sessions", {{"server_id", "srv-aurora-4090"}}, token).body.value("session_id", "");
    clock_.advance_ms(1000 + 3600 * 1000);  // the whole hour: 349 cents, and the rental is over
    EXPECT_EQ(balance(token), 2000 - 349);

    restart();
    EXPECT_EQ(get("/api/auth/me", token).body["email"], "kim@example.org");
    EXPECT_EQ(balance(token), 2000 - 349);
    EXPECT_EQ(post("/api/auth/login", {{"email", "kim@example.org"}, {"password", "kims-password"}}).status, 200);
    EXPECT_EQ(del("/api/sessions/" + id, token).body["endReason"], "Rental period over");
    // Seeding again neither duplicates the demo account nor resets its balance.
    EXPECT_EQ(post("/api/auth/login", {{"email", "demo@nubora.test"}, {"password", "nubora-demo"}}).status, 200);
    EXPECT_EQ(post("/api/auth/register", {{"email", "kim@example.org"}, {"password", "x-password"}}).status, 409);
}

TEST_F(Persistence, SessionOpenAtARestartIsClosedAndItsServerFreed) {
    const std::string token = sign_up("lou@example.org");
    const std::string id = post("/api/sessions", {{"server_id", "srv-stratus-3090"}}, token).body.value("session_id", "");
    clock_.advance_ms(1000 + 1800 * 1000);  // half an hour at 199 cents: 99
    EXPECT_EQ(get("/api/sessions/active", token).body["costCents"], 99);

    sim_.reset();
    clock_.advance_ms(3600 * 1000);  // the backend is away for an hour
    start(options());
    EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
    const Answer ended = del("/api/sessions/" + id, token);
    EXPECT_EQ(ended.body["endReason"], "Backend restarted");
    EXPECT_EQ(ended.body["costCents"], 99);
    EXPECT_EQ(balance(token), 2000 - 99);
    const auto servers = get("/api/servers?gpu=3090").body["servers"];
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers[0]["status"], "online");
}

// Without a database nothing outlives a restart; a file that is not ours,
// or one that cannot be made, stops the start.
TEST_F(Persistence, OnlyOurOwnDatabaseKeepsState) {
    sim_.reset();
    std::ofstream(dir_ / "notes.txt") << "these are not the tables you are looking for\n";
    EXPECT_FALSE(BackendSimInstance(options("notes.txt")).started());
    EXPECT_FALSE(BackendSimInstance(options("missing-folder/state.db")).started());
    start(test_backend_options());
    const std::string token = sign_up("mo@example.org");
    sim_.reset();
    start(test_backend_options());
    EXPECT_EQ(get("/api/auth/me", token).status, 401);
}

}  // namespace
}  // namespace nb::test
