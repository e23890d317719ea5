// When the decoders ask for a key frame; both back ends share this policy.
#include "video/idr_request_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace nb {
namespace {

using Request = IdrRequestPolicy::Request;

TEST(IdrRequestPolicy, StallRequestsFallOnTheSixtiethThenEveryThreeHundredth) {
    struct Case {
        const char* name;
        int64_t step_us;  // clock advance per empty output
        std::vector<uint32_t> expected;  // counts at which a request is made
    };
    const Case cases[] = {
        // 60 fps: every trigger is far more than 2 s after the last.
        {"steady stream", 16'667, {60, 300, 600, 900}},
        // 300 inputs within 2 s of the first request: the 300th is skipped.
        {"fast stream", 5'000, {60, 600}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IdrRequestPolicy policy;
        int64_t now = 100'000'000;
        std::vector<uint32_t> requested;
        for (uint32_t i = 1; i <= 1000; ++i) {
            now += c.step_us;
            const IdrRequestPolicy::Decision d = policy.output(false, now);
            if (d.request == Request::none) continue;
            EXPECT_EQ(d.request, requested.empty() ? Request::first_stall : Request::repeated_stall);
            EXPECT_EQ(d.count, i);
            requested.push_back(i);
        }
        EXPECT_EQ(requested, c.expected);
        EXPECT_EQ(policy.output(true, now).request, Request::none);
        EXPECT_EQ(policy.frames_without_output(), 0u);
    }
}

TEST(IdrRequestPolicy, ErrorRunsAskOnceEveryThirdFailureOnlyWithACallback) {
    IdrRequestPolicy policy;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(policy.input_failed(false).request, Request::none);
    EXPECT_EQ(policy.consecutive_errors(), 5u);
    // A callback set late: the long run asks at once and starts over.
    const IdrRequestPolicy::Decision late = policy.input_failed(true);
    EXPECT_EQ(late.request, Request::after_errors);
    EXPECT_EQ(late.count, 6u);
    std::vector<Request> seen;
    for (int i = 0; i < 6; ++i) seen.push_back(policy.input_failed(true).request);
    EXPECT_EQ(seen, (std::vector<Request>{Request::none, Request::none, Request::after_errors, Request::none,
                                          Request::none, Request::after_errors}));
    policy.input_failed(true);
    policy.output(true, 0);  // a picture ends the run
    EXPECT_EQ(policy.consecutive_errors(), 0u);
}

}  // namespace
}  // namespace nb
