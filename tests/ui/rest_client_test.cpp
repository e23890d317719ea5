// The backend client against the marketplace simulator on loopback: every
// call's success, the backend's own refusals, and the error shapes its
// fault rules produce, each with the text the user is shown.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/backend_sim.h"
#include "tests/support/rest_fixture.h"
#include "ui/rest_client.h"

namespace nb::ui {
namespace {

using RestClient = test::RestSimFixture;

TEST_F(RestClient, RegisterSignInAndProfile) {
    const AuthResult registered = register_account(backend(), "ann@nubora.test", "secret-1", "Ann", "merchant", false);
    ASSERT_TRUE(registered.ok) << registered.error;
    EXPECT_FALSE(registered.token.empty());
    EXPECT_FALSE(registered.user_id.empty());
    EXPECT_EQ(registered.display_name, "Ann");
    EXPECT_EQ(registered.email, "ann@nubora.test");
    EXPECT_EQ(registered.role, "merchant");
    EXPECT_EQ(registered.balance_cents, test::k_starting_balance_cents);

    const AuthResult signed_in = login(backend(), "ann@nubora.test", "secret-1", false);
    ASSERT_TRUE(signed_in.ok) << signed_in.error;
    EXPECT_EQ(signed_in.user_id, registered.user_id);
    EXPECT_EQ(signed_in.display_name, "Ann");

    const UserProfile profile = fetch_profile(backend(), signed_in.token, false);
    ASSERT_TRUE(profile.ok) << profile.error;
    EXPECT_EQ(profile.display_name, "Ann");
    EXPECT_EQ(profile.email, "ann@nubora.test");
    EXPECT_EQ(profile.role, "merchant");
    EXPECT_EQ(profile.balance_cents, test::k_starting_balance_cents);
}

TEST_F(RestClient, BackendRefusalsCarryItsText) {
    const AuthResult user = sign_up("bo@nubora.test");
    const std::string b = backend();
    struct Case {
        const char* name;
        std::function<std::string()> error;
        const char* text;
    };
    const Case cases[] = {
        {"wrong password", [&] { return login(b, "bo@nubora.test", "nope", false).error; },
         "Invalid email or password"},
        {"second registration",
         [&] { return register_account(b, "bo@nubora.test", "pw-12345", "B", "client", false).error; },
         "Email already registered"},
        {"bad token", [&] { return fetch_profile(b, "not-a-token", false).error; }, "Not authenticated"},
        {"unknown server", [&] { return create_session(b, user.token, "srv-none", "h264", false).error; },
         "Server not found"},
        {"offline server", [&] { return create_session(b, user.token, "srv-halo-3070", "h264", false).error; },
         "Server is not available"},
        {"codec refused (422 list)",
         [&] { return create_session(b, user.token, "srv-aurora-4090", "vp9", false).error; },
         "Codec must be h264, h265 or av1"},
        {"no session to connect to", [&] { return get_connect_info(b, user.token, false).error; }, "No active session"},
        {"no active session (null)", [&] { return get_active_session(b, user.token, false).error; },
         "No active session"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.error(), c.text) << c.name;
    EXPECT_FALSE(end_session(b, user.token, "no-such-session", false));
}

TEST_F(RestClient, ServerCatalogueWithFiltersAndSorts) {
    const ServerListResult all = list_servers(backend(), "", 0, 0, "rating", false);
    ASSERT_TRUE(all.ok) << all.error;
    EXPECT_EQ(all.total, 14);
    ASSERT_EQ(all.servers.size(), 14u);
    for (size_t i = 1; i < all.servers.size(); ++i) EXPECT_GE(all.servers[i - 1].rating, all.servers[i].rating);

    const auto aurora = std::find_if(all.servers.begin(), all.servers.end(),
                                     [](const ServerInfo& s) { return s.id == "srv-aurora-4090"; });
    ASSERT_NE(aurora, all.servers.end());
    EXPECT_EQ(aurora->hostname, "aurora.fra1.nubora.test");
    EXPECT_EQ(aurora->gpu_model, "NVIDIA GeForce RTX 4090");
    EXPECT_EQ(aurora->gpu_vram_mb, 24576);
    EXPECT_EQ(aurora->cpu_model, "AMD Ryzen 9 7950X3D");
    EXPECT_EQ(aurora->ram_mb, 65536);
    EXPECT_EQ(aurora->status, "online");
    EXPECT_EQ(aurora->price_per_hour_cents, 349);
    EXPECT_EQ(aurora->max_resolution, "3840x2160");
    EXPECT_EQ(aurora->max_fps, 144);
    EXPECT_EQ(aurora->supported_codecs, (std::vector<std::string>{"h264", "h265", "av1"}));
    EXPECT_FLOAT_EQ(aurora->rating, 4.9f);
    EXPECT_EQ(aurora->total_sessions, 1287);
    EXPECT_EQ(aurora->live_fps, 142);
    EXPECT_EQ(aurora->latency_ms, 11);

    // Two words of GPU filter travel as one value.
    const ServerListResult rtx = list_servers(backend(), "RTX 4090", 0, 0, "rating", false);
    ASSERT_TRUE(rtx.ok) << rtx.error;
    ASSERT_EQ(rtx.servers.size(), 2u);
    for (const ServerInfo& s : rtx.servers) EXPECT_NE(s.gpu_model.find("RTX 4090"), std::string::npos);

    const ServerListResult cheap = list_servers(backend(), "", 100, 150, "price", false);
    ASSERT_TRUE(cheap.ok) << cheap.error;
    ASSERT_FALSE(cheap.servers.empty());
    EXPECT_EQ(cheap.total, static_cast<int32_t>(cheap.servers.size()));
    for (size_t i = 0; i < cheap.servers.size(); ++i) {
        EXPECT_LE(cheap.servers[i].price_per_hour_cents, 150);
        EXPECT_GE(cheap.servers[i].max_fps, 100);
        if (i > 0) {
            EXPECT_LE(cheap.servers[i - 1].price_per_hour_cents, cheap.servers[i].price_per_hour_cents);
        }
    }
}

TEST_F(RestClient, RentStreamAndEndASession) {
    const AuthResult user = sign_up("cy@nubora.test");
    const CreateSessionResult created = create_session(backend(), user.token, "srv-aurora-4090", "h264", false);
    ASSERT_TRUE(created.ok) << created.error;
    EXPECT_FALSE(created.session_id.empty());
    EXPECT_EQ(created.status, "preparing");
    EXPECT_EQ(create_session(backend(), user.token, "srv-nimbus-4080", "h264", false).error,
              "You already have an active session");

    clock_.advance_ms(60'000);
    const ActiveSession active = get_active_session(backend(), user.token, false);
    ASSERT_TRUE(active.ok) << active.error;
    EXPECT_EQ(active.id, created.session_id);
    EXPECT_EQ(active.status, "streaming");
    EXPECT_EQ(active.server_hostname, "aurora.fra1.nubora.test");
    EXPECT_EQ(active.duration_sec, 60);
    EXPECT_GT(active.cost_cents, 0);
    EXPECT_EQ(fetch_profile(backend(), user.token, false).balance_cents,
              test::k_starting_balance_cents - active.cost_cents);

    const ConnectInfo connect = get_connect_info(backend(), user.token, false);
    ASSERT_TRUE(connect.ok) << connect.error;
    EXPECT_EQ(connect.session_id, created.session_id);
    EXPECT_EQ(connect.status, "streaming");
    EXPECT_FALSE(connect.token.empty());
    EXPECT_EQ(connect.host, "127.0.0.1");
    EXPECT_EQ(connect.control_port, 48001);
    EXPECT_EQ(connect.port, 47998);
    EXPECT_EQ(connect.codec, "h264");
    EXPECT_EQ(connect.fps, 60);
    EXPECT_EQ(connect.bitrate, 20000);

    EXPECT_FALSE(end_session(backend(), user.token, "", false));
    EXPECT_TRUE(end_session(backend(), user.token, created.session_id, false));
    EXPECT_EQ(get_active_session(backend(), user.token, false).error, "No active session");
    EXPECT_EQ(get_connect_info(backend(), user.token, false).error, "No active session");
}

TEST_F(RestClient, ErrorShapesBecomeTheirTexts) {
    const AuthResult user = sign_up("di@nubora.test");
    const std::string b = backend();
    const auto rent = [&] { return create_session(b, user.token, "srv-aurora-4090", "h264", false).error; };
    struct Case {
        const char* fault;
        std::function<std::string()> error;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"POST:/api/sessions=validation:Server id is required", rent, "Server id is required"},
        {"POST:/api/sessions=validation-empty", rent, "HTTP 422"},
        {"POST:/api/sessions=validation-nomsg", rent, "Validation error"},
        {"POST:/api/sessions=message:409:Server busy", rent, "Server busy"},
        {"POST:/api/sessions=detail:402:Top up first", rent, "Top up first"},
        {"POST:/api/sessions=json:503:{\"other\":1}", rent, "HTTP 503"},
        {"POST:/api/sessions=status:500", rent, "No response"},
        {"POST:/api/auth/login=json:200:{\"user\":{}}",
         [&] { return login(b, "di@nubora.test", "pw-12345", false).error; }, "Login failed (HTTP 200)"},
        {"POST:/api/auth/login=json:200:{\"detail\":\"Try again later\"}",
         [&] { return login(b, "di@nubora.test", "pw-12345", false).error; }, "Try again later"},
        {"POST:/api/auth/login=text:503", [&] { return login(b, "di@nubora.test", "pw-12345", false).error; },
         "Login failed (HTTP 503)"},
        {"POST:/api/auth/register=json:201:{\"user\":{}}",
         [&] { return register_account(b, "x@nubora.test", "pw-12345", "X", "client", false).error; }, "HTTP 201"},
        {"GET:/api/auth/me=null", [&] { return fetch_profile(b, user.token, false).error; }, "No user profile"},
        {"GET:/api/auth/me=huge:17000000", [&] { return fetch_profile(b, user.token, false).error; }, "No response"},
        {"GET:/api/sessions/active=null", [&] { return get_active_session(b, user.token, false).error; },
         "No active session"},
        {"GET:/api/sessions/active/connect=detail:409:Still preparing",
         [&] { return get_connect_info(b, user.token, false).error; }, "Still preparing"},
        {"GET:/api/servers=text:503", [&] { return list_servers(b, "", 0, 0, "rating", false).error; }, "HTTP 503"},
        {"GET:/api/servers=json:200:{\"servers\":[{\"id\":\"a\"",
         [&] { return list_servers(b, "", 0, 0, "rating", false).error; },
         "Invalid JSON"},
        {"GET:/api/servers=json:200:{\"servers\":[{\"maxFps\":\"fast\"}]}",
         [&] { return list_servers(b, "", 0, 0, "rating", false).error; }, "Invalid JSON"},
    };
    for (const Case& c : cases) {
        add_fault(c.fault);
        EXPECT_EQ(c.error(), c.text) << c.fault;
        clear_faults();
    }

    // Past 200 bytes, a page that is no JSON is quoted up to 200 bytes.
    add_fault("POST:/api/sessions=text:422");
    const std::string error = rent();
    const std::string prefix = "Invalid response (HTTP 422): <!DOCTYPE html>";
    EXPECT_EQ(error.substr(0, prefix.size()), prefix);
    EXPECT_EQ(error.size(), std::string("Invalid response (HTTP 422): ").size() + 200);
}

TEST_F(RestClient, ASlowBackendTimesOut) {
    const AuthResult user = sign_up("ed@nubora.test");
    add_fault("GET:/api/sessions/active=delay:2500");
    HttpOptions options;
    options.idle_timeout = std::chrono::seconds(1);
    EXPECT_EQ(get_active_session(backend(), user.token, false, options).error, "No response");
}

}  // namespace
}  // namespace nb::ui
