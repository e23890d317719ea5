// What the backend client puts on the wire and how it copes with the
// connection: methods, headers and bodies as a recording server sees them,
// the proxy rule, default ports, the body cap, timeouts and cancellation.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/fake_tcp_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/scoped_env.h"
#include "ui/http_cancel.h"
#include "ui/rest_client.h"

namespace nb::ui {
namespace {

using test::RecordingHttpServer;

RecordingHttpServer::Handler answer(int status, std::string body) {
    return [status, body](RecordingHttpServer&, const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, "application/json");
    };
}

// Keeps every request waiting until the test or the server's end releases it.
void park(RecordingHttpServer& self, const httplib::Request&, httplib::Response& res) {
    self.hold();
    res.set_content("{}", "application/json");
}

// Reads a request's line and headers, as far as the blank line.
void read_head(test::FakeTcpPeer& peer, int fd) {
    while (!peer.stopping()) {
        const std::string line = peer.read_line(fd);
        if (line.empty() || line == "\r") break;
    }
}

class RestTransport : public ::testing::Test {
protected:
    void SetUp() override { env_.clear_proxies(); }
    test::ScopedEnv env_;
};

TEST_F(RestTransport, EachCallSendsItsMethodPathHeadersAndBody) {
    RecordingHttpServer server(answer(200, "{}"));
    const std::string b = server.backend();
    const std::string long_id(2000, 's');  // a body past 1 KiB, where libcurl would otherwise ask to continue
    struct Call { std::function<void()> run; const char* method; std::string target, authorization, body; };
    const std::vector<Call> calls = {
        {[&] { login(b, "a@x", "pw", false); }, "POST", "/api/auth/login", "", R"({"email":"a@x","password":"pw"})"},
        {[&] { register_account(b, "a@x", "pw", "Ann", "client", false); }, "POST", "/api/auth/register", "",
         R"({"display_name":"Ann","email":"a@x","password":"pw","role":"client"})"},
        {[&] { fetch_profile(b, "tok", false); }, "GET", "/api/auth/me", "Bearer tok", ""},
        {[&] { list_servers(b, "RTX 4090", 0, 0, "price", false); }, "GET",
         "/api/servers?page=1&limit=30&gpu=RTX%204090&sort=price", "", ""},
        {[&] { create_session(b, "tok", long_id, "h264", false); }, "POST", "/api/sessions", "Bearer tok",
         R"({"codec_preference":"h264","duration_hours":1.0,"server_id":")" + long_id + "\"}"},
        {[&] { get_active_session(b, "tok", false); }, "GET", "/api/sessions/active", "Bearer tok", ""},
        {[&] { get_connect_info(b, "tok", false); }, "GET", "/api/sessions/active/connect", "Bearer tok", ""},
        {[&] { end_session(b, "tok", "s-1", false); }, "DELETE", "/api/sessions/s-1", "Bearer tok", ""},
        {[&] { fetch_profile(b, "", false); }, "GET", "/api/auth/me", "", ""},
    };
    for (const Call& call : calls) call.run();
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        const auto& r = seen[i];
        SCOPED_TRACE(calls[i].target);
        EXPECT_EQ(r.method, calls[i].method);
        EXPECT_EQ(r.target, calls[i].target);
        EXPECT_EQ(r.version, "HTTP/1.1");
        EXPECT_EQ(r.header("User-Agent"), "NuboraLauncher/1.0");
        EXPECT_EQ(r.has_header("Authorization"), !calls[i].authorization.empty());
        EXPECT_EQ(r.header("Authorization"), calls[i].authorization);
        const bool post = std::string(calls[i].method) == "POST";
        EXPECT_EQ(r.header("Content-Type"), post ? "application/json" : "");
        EXPECT_FALSE(r.has_header("Expect"));
        EXPECT_EQ(r.body, calls[i].body);
    }
}

TEST_F(RestTransport, EndSessionNeedsAnIdAndA200Or204) {
    for (const auto& [status, ended] : {std::pair{200, true}, {204, true}, {404, false}, {500, false}}) {
        RecordingHttpServer server(answer(status, ""));
        EXPECT_EQ(end_session(server.backend(), "tok", "abc", false), ended) << status;
    }
    RecordingHttpServer server(answer(204, ""));
    EXPECT_FALSE(end_session(server.backend(), "tok", "", false));
    EXPECT_TRUE(server.requests().empty());
    // The id goes into the path as it is.
    end_session(server.backend(), "tok", "a%2Fb..c", false);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/api/sessions/a%2Fb..c");
}

TEST_F(RestTransport, BodiesPastSixteenMebibytesAreNoAnswer) {
    constexpr size_t cap = size_t{16} << 20;
    // Chunked answers announce no length: the cap must hold while reading.
    struct Case { const char* name; size_t size; bool chunked; bool ok; };
    const Case cases[] = {
        {"at the cap", cap, false, true},
        {"one byte over, announced", cap + 1, false, false},
        {"one byte over, chunked", cap + 1, true, false},
        {"at the cap, chunked", cap, true, true},
    };
    for (const Case& c : cases) {
        const std::string name(c.size - 18, 'n');  // a JSON profile of exactly c.size bytes
        const std::string body = R"({"displayName":")" + name + R"("})";
        RecordingHttpServer server([&](RecordingHttpServer&, const httplib::Request&, httplib::Response& res) {
            if (!c.chunked) {
                res.set_content(body, "application/json");
                return;
            }
            res.set_chunked_content_provider("application/json", [&body](size_t offset, httplib::DataSink& sink) {
                const size_t n = std::min<size_t>(65536, body.size() - offset);
                sink.write(body.data() + offset, n);
                if (offset + n == body.size()) sink.done();
                return true;
            });
        });
        const UserProfile profile = fetch_profile(server.backend(), "tok", false);
        EXPECT_EQ(std::tie(profile.ok, profile.error), std::tuple(c.ok, c.ok ? "" : "No response")) << c.name;
        EXPECT_EQ(profile.display_name, c.ok ? name : "") << c.name;
    }
}

TEST_F(RestTransport, AnAnswerThatNeverComesTimesOut) {
    RecordingHttpServer server(park);
    HttpOptions options;
    options.idle_timeout = std::chrono::seconds(1);
    test::LogCapture log;
    EXPECT_EQ(get_active_session(server.backend(), "tok", false, options).error, "No response");
    EXPECT_EQ(login(server.backend(), "a@x", "pw", false, options).error, "No response from server");
    EXPECT_TRUE(
        log.contains_substring("HttpTransport: GET http://" + server.backend() + "/api/sessions/active failed"));
}

TEST_F(RestTransport, CancelEndsARequestInFlightAndRefusesNewOnes) {
    RecordingHttpServer server(park);
    HttpCancel cancel;
    HttpOptions options;
    options.cancel = &cancel;
    ActiveSession in_flight;
    std::thread caller([&] { in_flight = get_active_session(server.backend(), "tok", false, options); });
    ASSERT_TRUE(server.wait_for_requests(1));
    cancel.cancel();
    caller.join();
    EXPECT_EQ(in_flight.error, "No response");

    EXPECT_EQ(fetch_profile(server.backend(), "tok", false, options).error, "No response");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(RestTransport, UnusableOrSilentAddressesAndUnusableTokensAreNoResponse) {
    RecordingHttpServer server(answer(200, R"({"token":"t"})"));
    const std::string port = std::to_string(server.port());
    test::LogCapture log;
    // Letters after the colon make the whole text the host name, which no
    // host can have; a path or user part in the address never moves the request.
    const std::vector<std::string> unusable = {"127.0.0.1:abc", "127.0.0.1:" + port + "/x?", "u@127.0.0.1:" + port, ""};
    for (const std::string& backend : unusable) {
        EXPECT_EQ(login(backend, "a@x", "pw", false).error, "No response from server") << backend;
    }
    EXPECT_EQ(fetch_profile(server.backend(), "tok\r\nX-Admin: 1", false).error, "No response");
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(log.contains("HttpTransport: '127.0.0.1:abc' is no usable backend host name"));

    const std::string backend = "127.0.0.1:" + std::to_string(test::unused_loopback_port());  // nobody listens
    EXPECT_EQ(login(backend, "a@x", "pw", false).error, "No response from server");
    EXPECT_EQ(register_account(backend, "a@x", "pw", "A", "client", false).error, "No response from server");
    EXPECT_EQ(list_servers(backend, "", 0, 0, "rating", false).error, "No response");
    EXPECT_EQ(create_session(backend, "tok", "s", "h264", false).error, "No response");
    EXPECT_FALSE(end_session(backend, "tok", "s", false));
}

TEST_F(RestTransport, AnAnswerCutShortIsNoAnswer) {
    // The connection closes 10 bytes into a body announced as 100.
    test::FakeTcpPeer peer([](test::FakeTcpPeer& self, int fd) {
        read_head(self, fd);
        test::FakeTcpPeer::send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"token\":\"");
    });
    const std::string backend = "127.0.0.1:" + std::to_string(peer.port());
    EXPECT_EQ(login(backend, "a@x", "pw", false).error, "No response from server");
    // The status arrived, so a call that judges by status alone still counts it.
    EXPECT_TRUE(end_session(backend, "tok", "s1", false));
}

// A backend may send the client elsewhere, but the bearer token stays with
// the address the user configured, and a redirect loop ends in an error.
TEST_F(RestTransport, RedirectsKeepTheTokenHomeAndLoopsEnd) {
    RecordingHttpServer elsewhere(answer(200, R"({"email":"b@x","role":"client"})"));
    const std::string away = "http://" + elsewhere.backend() + "/api/auth/me";
    RecordingHttpServer backend([away](RecordingHttpServer&, const httplib::Request&, httplib::Response& res) {
        res.set_redirect(away, 302);
    });
    const UserProfile followed = fetch_profile(backend.backend(), "secret-token", false);
    EXPECT_TRUE(followed.ok) << followed.error;
    EXPECT_EQ(followed.email, "b@x");
    ASSERT_EQ(elsewhere.requests().size(), 1u);
    EXPECT_FALSE(elsewhere.requests()[0].has_header("Authorization"));
    EXPECT_EQ(backend.requests()[0].header("Authorization"), "Bearer secret-token");

    RecordingHttpServer loop([](RecordingHttpServer&, const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/api/auth/me", 307);
    });
    test::LogCapture log;
    EXPECT_EQ(fetch_profile(loop.backend(), "tok", false).error, "No response");
    EXPECT_EQ(loop.requests().size(), 11u);  // the request and ten redirects
    EXPECT_TRUE(log.contains_substring("Maximum (10) redirects followed"));
}

TEST_F(RestTransport, CallsRunInParallel) {
    RecordingHttpServer server(answer(200, R"({"balanceCents":7})"));
    constexpr int threads = 4;
    constexpr int calls_each = 10;
    std::vector<int> ok_counts(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < calls_each; ++i) ok_counts[t] += fetch_profile(server.backend(), "tok", false).ok;
        });
    }
    for (auto& w : workers) w.join();
    for (int t = 0; t < threads; ++t) EXPECT_EQ(ok_counts[t], calls_each);
}

TEST_F(RestTransport, ProxyVariablesServeEverythingButPlainPostAndShowTheDefaultPorts) {
    // The proxy answers 502 to everything; what it received shows which
    // calls went through it and where to.
    test::FakeTcpPeer proxy([](test::FakeTcpPeer& self, int fd) {
        read_head(self, fd);
        test::FakeTcpPeer::send_all(fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
    });
    RecordingHttpServer origin(answer(200, R"({"token":"t"})"));
    env_.set("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));
    env_.set("https_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));
    const std::string port = std::to_string(origin.port());

    EXPECT_EQ(list_servers(origin.backend(), "", 0, 0, "rating", false).error, "HTTP 502");
    EXPECT_FALSE(end_session(origin.backend(), "tok", "s1", false));
    EXPECT_TRUE(login(origin.backend(), "a@x", "pw", false).ok);  // straight to the origin
    // Over HTTPS the proxy is asked for a tunnel to the host and port: the
    // given one, or 443 by default. Its refusal is no response.
    EXPECT_EQ(login("backend.test:8443", "a@x", "pw", true).error, "No response from server");
    EXPECT_EQ(fetch_profile("backend.test", "tok", true).error, "No response");
    fetch_profile("backend.test", "tok", false);

    std::vector<std::string> request_lines;
    const std::string received = proxy.received();
    for (size_t at = 0, end; (end = received.find("\r\n\r\n", at)) != std::string::npos; at = end + 4) {
        request_lines.push_back(received.substr(at, received.find("\r\n", at) - at));
    }
    EXPECT_EQ(request_lines, (std::vector<std::string>{
                                 "GET http://127.0.0.1:" + port + "/api/servers?page=1&limit=30&sort=rating HTTP/1.1",
                                 "DELETE http://127.0.0.1:" + port + "/api/sessions/s1 HTTP/1.1",
                                 "CONNECT backend.test:8443 HTTP/1.1",
                                 "CONNECT backend.test:443 HTTP/1.1",
                                 // libcurl leaves the scheme's own port (80) out of the URL.
                                 "GET http://backend.test/api/auth/me HTTP/1.1",
                             }));
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(origin.requests()[0].target, "/api/auth/login");
}

}  // namespace
}  // namespace nb::ui
