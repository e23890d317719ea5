// A simulator per test with a hand-moved clock, and short ways to call its
// API as a signed-in user.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "tests/support/backend_sim.h"

namespace nb::test {

struct Answer {
    int status = 0;  // 0: no answer
    nlohmann::json body;
};

class BackendApiTest : public ::testing::Test {
protected:
    void start(BackendOptions options = test_backend_options()) {
        sim_.emplace(std::move(options), &clock_);
        ASSERT_TRUE(sim_->started());
    }
    void SetUp() override { start(); }

    Answer answer(const httplib::Result& r) { return r ? Answer{r->status, json_of(r)} : Answer{}; }
    Answer get(const std::string& path, const std::string& token = {}) {
        return answer(sim_->client().Get(path, token.empty() ? httplib::Headers{} : bearer(token)));
    }
    Answer post(const std::string& path, const nlohmann::json& body, const std::string& token = {}) {
        return post_text(path, body.dump(), token);
    }
    Answer post_text(const std::string& path, const std::string& body, const std::string& token = {}) {
        return answer(
            sim_->client().Post(path, token.empty() ? httplib::Headers{} : bearer(token), body, "application/json"));
    }
    Answer del(const std::string& path, const std::string& token = {}) {
        return answer(sim_->client().Delete(path, token.empty() ? httplib::Headers{} : bearer(token)));
    }

    // A new account's token; fails the test when registration fails.
    std::string sign_up(const std::string& email, const std::string& password = "secret-pw") {
        const Answer a = post("/api/auth/register", {{"email", email}, {"password", password}});
        EXPECT_EQ(a.status, 201) << a.body.dump();
        return a.body.value("token", "");
    }
    int64_t balance(const std::string& token) { return get("/api/auth/me", token).body.value("balanceCents", -1); }

    ManualWallClock clock_;
    std::optional<BackendSimInstance> sim_;
};

}  // namespace nb::test
