// A simulator per test with a hand-moved clock, and short ways to call its
// API as a signed-in user.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "tests/support/backend_sim.h"

namespace nb::test {

struct Answer {
    int status = 0;  // 0: no answer
    nlohmann::json body;
};

// The demo catalogue on a free port, changed by `tweak` where a suite needs more.
inline BackendOptions seeded_options(const std::function<void(BackendOptions&)>& tweak = {}) {
    BackendOptions o = test_backend_options();
    o.seed_demo = true;
    if (tweak) tweak(o);
    return o;
}

class BackendApiTest : public ::testing::Test {
protected:
    void start(BackendOptions options = seeded_options()) {
        sim_.emplace(std::move(options), &clock_);
        ASSERT_TRUE(sim_->started());
    }
    void SetUp() override { start(); }

    Answer answer(const httplib::Result& r) { return r ? Answer{r->status, json_of(r)} : Answer{}; }
    httplib::Headers auth(const std::string& token) { return token.empty() ? httplib::Headers{} : bearer(token); }
    Answer get(const std::string& path, const std::string& token = {}) {
        return answer(sim_->client().Get(path, auth(token)));
    }
    Answer post(const std::string& path, const nlohmann::json& body, const std::string& token = {}) {
        return post_text(path, body.dump(), token);
    }
    Answer post_text(const std::string& path, const std::string& body, const std::string& token = {}) {
        return answer(sim_->client().Post(path, auth(token), body, "application/json"));
    }
    Answer del(const std::string& path, const std::string& token = {}) {
        return answer(sim_->client().Delete(path, auth(token)));
    }

    // A new account's token; fails the test when registration fails.
    std::string sign_up(const std::string& email, const std::string& password = "secret-pw") {
        const Answer a = post("/api/auth/register", {{"email", email}, {"password", password}});
        EXPECT_EQ(a.status, 201) << a.body.dump();
        return a.body.value("token", "");
    }
    int64_t balance(const std::string& token) { return get("/api/auth/me", token).body.value("balanceCents", -1); }
    // The 422 answer's first complaint points at `field` of `where` ("body", "query").
    static void expect_names(const Answer& a, const std::string& where, const std::string& field,
                             const std::string& context) {
        EXPECT_EQ(a.status, 422) << context;
        ASSERT_TRUE(a.body["detail"].is_array() && !a.body["detail"].empty()) << context << ": " << a.body.dump();
        EXPECT_EQ(a.body["detail"][0]["loc"], (nlohmann::json{where, field})) << context;
    }

    ManualWallClock clock_;
    std::optional<BackendSimInstance> sim_;
};

}  // namespace nb::test
