// The WinHTTP transport against the real backend simulator (a Linux process
// started by the suite's ctest fixture): real calls of every method, status
// codes, and the timeout, body cap and cancellation options.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "tests/support/log_capture.h"
#include "ui/http_cancel.h"
#include "ui/http_transport.h"
#include "ui/rest_client.h"

namespace nb::ui {
namespace {

class WinHttpTransport : public ::testing::Test {
protected:
    void SetUp() override {
        // The fixture writes the simulator's port here, below ctest's working folder.
        std::ifstream port_file("winhttp-backend/port");
        int port = 0;
        port_file >> port;
        ASSERT_GT(port, 0) << "no backend simulator: run through ctest (fixture winhttp_backend)";
        backend_ = "127.0.0.1:" + std::to_string(port);
    }

    std::string url(const std::string& path) const { return "http://" + backend_ + path; }

    std::string backend_;
};

TEST_F(WinHttpTransport, AccountSessionAndCatalogueCallsWorkEndToEnd) {
    const std::string email = "winhttp-" + std::to_string(std::random_device{}()) + "@example.net";
    const AuthResult registered = register_account(backend_, email, "pass-Word-1", "Ann Win", "client", false);
    ASSERT_TRUE(registered.ok) << registered.error;
    const AuthResult signed_in = login(backend_, email, "pass-Word-1", false);
    ASSERT_TRUE(signed_in.ok) << signed_in.error;
    EXPECT_EQ(signed_in.display_name, "Ann Win");
    EXPECT_EQ(login(backend_, email, "wrong", false).ok, false);

    const UserProfile profile = fetch_profile(backend_, signed_in.token, false);
    ASSERT_TRUE(profile.ok) << profile.error;
    EXPECT_EQ(profile.email, email);
    EXPECT_FALSE(fetch_profile(backend_, "not-a-token", false).ok);

    const ServerListResult list = list_servers(backend_, "", 0, 0, "price", false);
    ASSERT_TRUE(list.ok) << list.error;
    const ServerInfo* online = nullptr;
    for (const auto& server : list.servers) {
        if (server.status == "online" && server.price_per_hour_cents <= profile.balance_cents) online = &server;
    }
    ASSERT_NE(online, nullptr);

    const CreateSessionResult created = create_session(backend_, signed_in.token, online->id, "h264", false);
    ASSERT_TRUE(created.ok) << created.error;
    const ActiveSession active = get_active_session(backend_, signed_in.token, false);
    ASSERT_TRUE(active.ok) << active.error;
    EXPECT_EQ(active.id, created.session_id);
    EXPECT_TRUE(end_session(backend_, signed_in.token, created.session_id, false));  // DELETE
    EXPECT_FALSE(end_session(backend_, signed_in.token, "no-such-session", false));
    EXPECT_FALSE(get_active_session(backend_, signed_in.token, false).ok);
}

TEST_F(WinHttpTransport, StatusCodesComeBackWithTheirBodies) {
    struct Case {
        const char* path;
        bool del;
        int status;
        bool empty_body;
    };
    for (const Case& c : {Case{"/test/teapot", false, 418, true}, Case{"/test/gone", true, 204, true},
                          Case{"/api/no-such-path", false, 404, false}, Case{"/test/small", false, 200, false}}) {
        const HttpResponse response =
            c.del ? http_delete(backend_, c.path, "tok", false) : http_get(backend_, c.path, "", false);
        EXPECT_EQ(response.status, c.status) << c.path;
        EXPECT_EQ(response.body.empty(), c.empty_body) << c.path;
    }
}

TEST_F(WinHttpTransport, BodyCapRefusesLargerAnswersAndLogsWhy) {
    HttpOptions options;
    options.max_body_bytes = 4096;
    EXPECT_EQ(http_get(backend_, "/test/small", "", false, options).body.size(), 4096u);
    test::LogCapture log;
    options.max_body_bytes = 4095;
    const HttpResponse refused = http_get(backend_, "/test/small", "", false, options);
    EXPECT_TRUE(refused.body.empty());
    EXPECT_EQ(refused.status, 200);  // the status still counts
    EXPECT_TRUE(log.contains_at(spdlog::level::warn,
                                "HttpTransport: GET " + url("/test/small") + " failed: response larger than 4095 bytes"));
    // The default cap of 16 MiB against a 17 MB answer.
    EXPECT_TRUE(http_get(backend_, "/test/huge", "", false).body.empty());
    EXPECT_TRUE(log.contains_substring("failed: response larger than 16777216 bytes"));
}

TEST_F(WinHttpTransport, AnAnswerThatNeverComesTimesOutQuietlyWhenAsked) {
    // Both limits: wine's WinHTTP completes the send only with the answer.
    HttpOptions options;
    options.connect_timeout = std::chrono::seconds(1);
    options.idle_timeout = std::chrono::seconds(1);
    options.quiet = true;
    test::LogCapture log;
    const HttpResponse response = http_get(backend_, "/test/slow", "", false, options);
    EXPECT_EQ(response.status, 0);
    EXPECT_TRUE(response.body.empty());
    EXPECT_TRUE(log.contains_at(spdlog::level::debug, "HttpTransport: GET " + url("/test/slow") + " failed: timed out"));
    // The server still answers what it does not hold back.
    EXPECT_EQ(get_active_session(backend_, "tok", false, options).error, "Not authenticated");
}

TEST_F(WinHttpTransport, CancelEndsARequestInFlightAndRefusesNewOnes) {
    HttpCancel cancel;
    HttpOptions options;
    options.cancel = &cancel;
    HttpResponse in_flight{-1, "x"};
    std::thread caller([&] { in_flight = http_get(backend_, "/test/slow", "", false, options); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the request reach the server
    cancel.cancel();
    caller.join();
    // The server's answer (a 404 after 20 s) never counts: the wait was ended.
    EXPECT_EQ(in_flight.status, 0);
    EXPECT_TRUE(in_flight.body.empty());
    EXPECT_EQ(fetch_profile(backend_, "tok", false, options).error, "No response");
}

TEST_F(WinHttpTransport, UnusableAddressesSendNothing) {
    test::LogCapture log;
    EXPECT_EQ(login("127.0.0.1:abc", "a@x", "pw", false).error, "No response from server");
    EXPECT_TRUE(log.contains("HttpTransport: '127.0.0.1:abc' is no usable backend host name"));
    EXPECT_EQ(fetch_profile(backend_, "tok\r\nX-Admin: 1", false).error, "No response");
    // Nobody listens on port 1 of the loopback.
    EXPECT_EQ(login("127.0.0.1:1", "a@x", "pw", false).error, "No response from server");
    EXPECT_TRUE(log.contains_substring("HttpTransport: POST http://127.0.0.1:1/api/auth/login failed: "));
}

}  // namespace
}  // namespace nb::ui
