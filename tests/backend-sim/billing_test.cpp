// The charging arithmetic: whole seconds, cents rounded down, and the last
// second a balance pays for.
#include <gtest/gtest.h>

#include "tools/backend-sim/session_billing.h"

namespace nb {
namespace {

TEST(SessionBilling, CostRoundsDownToTheCent) {
    struct Case {
        int64_t seconds, price, cents;
    };
    for (const Case c : std::initializer_list<Case>{{0, 349, 0},
                                                    {10, 349, 0},
                                                    {11, 349, 1},  // 1.066 cents
                                                    {600, 349, 58},
                                                    {3600, 349, 349},
                                                    {3600 * 24, 100'000, 2'400'000},
                                                    {1'000'000, 0, 0}}) {
        EXPECT_EQ(session_cost_cents(c.seconds, c.price), c.cents) << c.seconds << " s at " << c.price;
    }
}

TEST(SessionBilling, AffordableSecondsAreTheLastOneTheBalanceCovers) {
    struct Case {
        int64_t charged, price, balance, seconds;
    };
    for (const Case c : std::initializer_list<Case>{
             {0, 349, 10, 113},     // 113 s cost 10 cents, 114 s would cost 11
             {0, 3600, 5, 5},       // a cent a second
             {0, 3600, 0, 0},
             {100, 3600, 0, 100},   // nothing left: the paid time, no more
             {113, 349, 0, 113},
             {50, 349, 1, 61},      // 50 s cost 4; 5 cents reach 61 s
             {0, 349, -5, 10},      // only the seconds that round to no cent at all
         }) {
        const int64_t s = affordable_seconds(c.charged, c.price, c.balance);
        EXPECT_EQ(s, c.seconds) << c.charged << "/" << c.price << "/" << c.balance;
        EXPECT_LE(session_cost_cents(s, c.price) - session_cost_cents(c.charged, c.price), std::max<int64_t>(c.balance, 0));
        if (c.balance >= 0) {
            EXPECT_GT(session_cost_cents(s + 1, c.price) - session_cost_cents(c.charged, c.price), c.balance);
        }
    }
    EXPECT_EQ(affordable_seconds(0, 0, 0), -1);  // free machines never run out
}

}  // namespace
}  // namespace nb
