// Requests to the test backend as any client on the machine can send them:
// every route, signed in or not, with bodies, queries and ids the input
// chooses. Every request gets an answer, no handler fails with an internal
// error, and every answer with a body is JSON.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/support/fuzz_input.h"
#include "tools/backend-sim/backend_server.h"

namespace {

struct Backend {
    std::unique_ptr<nb::BackendServer> server;
    std::unique_ptr<httplib::Client> client;
    std::string token;  // of an account registered at start

    Backend() {
        nb::BackendOptions options;
        options.port = 0;
        options.seed_demo = true;  // a catalogue to rent from
        options.fast_password_hash = true;
        options.prepare_delay_ms = 0;
        options.starting_balance_cents = 1'000'000'000;
        server = std::make_unique<nb::BackendServer>(options);
        NB_FUZZ_CHECK(server->start());
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);  // a body sent apart from its headers would wait for an ACK
        client->set_read_timeout(10, 0);
        const auto r = client->Post("/api/auth/register", R"({"email":"fuzz@nubora.test","password":"fuzz-pw-1"})",
                                    "application/json");
        NB_FUZZ_CHECK(r && r->status == 201);
        token = nlohmann::json::parse(r->body).at("token").get<std::string>();
    }
};

// Bytes made fit for a URL path or query: unreserved characters as they are,
// the rest percent-encoded, so the request reaches the handler at all.
std::string url_text(std::span<const uint8_t> bytes) {
    static constexpr char k_hex[] = "0123456789ABCDEF";
    std::string out;
    for (const uint8_t b : bytes) {
        if (std::isalnum(b) || b == '-' || b == '_' || b == '.' || b == '~' || b == '=' || b == '&') {
            out.push_back(static_cast<char>(b));
        } else {
            out += '%';
            out.push_back(k_hex[b >> 4]);
            out.push_back(k_hex[b & 0x0F]);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nb::fuzz::quiet_logs();
    static Backend backend;
    nb::fuzz::FuzzInput input(data, size);
    for (int request = 0; request < 4 && !input.empty(); ++request) {
        const uint8_t route = input.u8() % 8;
        const uint8_t who = input.u8() % 3;
        const auto text = input.bytes(input.u16() % 2048);
        const std::string body(text.begin(), text.end());

        httplib::Headers headers;
        if (who == 1) headers.emplace("Authorization", "Bearer " + backend.token);
        if (who == 2) {
            headers.emplace("Authorization", "Bearer " + url_text(text.first(std::min<size_t>(text.size(), 40))));
        }
        httplib::Client& client = *backend.client;
        const auto send = [&]() -> httplib::Result {
            switch (route) {
            case 0: return client.Post("/api/auth/register", headers, body, "application/json");
            case 1: return client.Post("/api/auth/login", headers, body, "application/json");
            case 2: return client.Get("/api/auth/me", headers);
            case 3: return client.Get("/api/servers?" + url_text(text), headers);
            case 4: return client.Post("/api/sessions", headers, body, "application/json");
            case 5: return client.Get("/api/sessions/active", headers);
            case 6: return client.Get("/api/sessions/active/connect", headers);
            default: return client.Delete("/api/sessions/" + url_text(text), headers);
            }
        };
        const httplib::Result r = send();
        NB_FUZZ_CHECK(r);
        NB_FUZZ_CHECK(r->status >= 200 && r->status < 500);
        if (!r->body.empty()) NB_FUZZ_CHECK(nlohmann::json::accept(r->body));
    }
    return 0;
}
