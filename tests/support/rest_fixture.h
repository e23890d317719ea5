// A test with the marketplace simulator in-process on loopback, a clock the
// test moves by hand, and no proxy in the way: the shared ground of the
// backend client's and the session-info poller's suites.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/backend_sim.h"
#include "tests/support/scoped_env.h"
#include "tools/backend-sim/fault_injector.h"
#include "ui/rest_client.h"

namespace nb::test {

inline const int64_t k_starting_balance_cents = BackendOptions{}.starting_balance_cents;

// The demo catalogue, sessions streaming at once.
inline BackendOptions seeded_backend_options() {
    BackendOptions options = test_backend_options();
    options.seed_demo = true;
    return options;
}

class RestSimFixture : public ::testing::Test {
protected:
    explicit RestSimFixture(BackendOptions options = seeded_backend_options())
        : sim_(std::move(options), &clock_) {
        env_.clear_proxies();
    }

    void SetUp() override { ASSERT_TRUE(sim_.started()); }

    std::string backend() const { return "127.0.0.1:" + std::to_string(sim_.port()); }

    // A fresh account with the starting balance.
    ui::AuthResult sign_up(const std::string& email, bool use_https = false) {
        ui::AuthResult user = ui::register_account(backend(), email, "pw-12345", "Player", "client", use_https);
        EXPECT_TRUE(user.ok) << user.error;
        return user;
    }

    void add_fault(const std::string& spec) {
        FaultRule rule;
        std::string error;
        ASSERT_TRUE(FaultInjector::parse(spec, rule, error)) << spec << ": " << error;
        sim_.server().faults().add(std::move(rule));
    }
    void clear_faults() { sim_.server().faults().clear(); }

    ScopedEnv env_;
    ManualWallClock clock_;
    BackendSimInstance sim_;
};

}  // namespace nb::test
