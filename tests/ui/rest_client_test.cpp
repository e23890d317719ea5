// The backend client against the marketplace simulator on loopback: every
// call's success, the backend's own refusals, and the error shapes its
// fault rules produce, each with the text the user is shown.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/backend_sim.h"
#include "tests/support/rest_fixture.h"
#include "tests/ui/rest_record_compare.h"
#include "ui/rest_client.h"

namespace nb::ui {
namespace {

using RestClient = test::RestSimFixture;

TEST_F(RestClient, RegisterSignInAndProfile) {
    const AuthResult registered = register_account(backend(), "ann@nubora.test", "secret-1", "Ann", "merchant", false);
    EXPECT_FALSE(registered.token.empty());
    EXPECT_FALSE(registered.user_id.empty());
    EXPECT_EQ(registered, (AuthResult{true, registered.token, registered.user_id, "Ann", "ann@nubora.test", "merchant",
                                      test::k_starting_balance_cents, ""}));

    const AuthResult signed_in = login(backend(), "ann@nubora.test", "secret-1", false);
    EXPECT_EQ(signed_in, (AuthResult{true, signed_in.token, registered.user_id, "Ann", "ann@nubora.test", "merchant",
                                     test::k_starting_balance_cents, ""}));
    EXPECT_EQ(fetch_profile(backend(), signed_in.token, false),
              (UserProfile{true, test::k_starting_balance_cents, "Ann", "ann@nubora.test", "merchant", ""}));
}

TEST_F(RestClient, BackendRefusalsCarryItsText) {
    const AuthResult user = sign_up("bo@nubora.test");
    const std::string b = backend();
    const auto rent = [&](const char* server, const char* codec) {
        return create_session(b, user.token, server, codec, false).error;
    };
    const std::pair<std::string, const char*> cases[] = {
        {login(b, "bo@nubora.test", "nope", false).error, "Invalid email or password"},
        {register_account(b, "bo@nubora.test", "pw-12345", "B", "client", false).error, "Email already registered"},
        {fetch_profile(b, "not-a-token", false).error, "Not authenticated"},
        {rent("srv-none", "h264"), "Server not found"},
        {rent("srv-halo-3070", "h264"), "Server is not available"},
        {rent("srv-aurora-4090", "vp9"), "Codec must be h264, h265 or av1"},  // a 422 list
        {get_connect_info(b, user.token, false).error, "No active session"},
        {get_active_session(b, user.token, false).error, "No active session"},  // a null body
    };
    for (const auto& [error, text] : cases) EXPECT_EQ(error, text);
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
    EXPECT_EQ(*aurora, (ServerInfo{"srv-aurora-4090", "aurora.fra1.nubora.test", "NVIDIA GeForce RTX 4090", 24576,
                                   "AMD Ryzen 9 7950X3D", 65536, "online", 349, "3840x2160", 144,
                                   {"h264", "h265", "av1"}, 4.9f, 1287, 142, 11}));

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
    EXPECT_GT(active.cost_cents, 0);
    EXPECT_EQ(active, (ActiveSession{true, created.session_id, "streaming", 60, active.cost_cents,
                                     "aurora.fra1.nubora.test", ""}));
    EXPECT_EQ(fetch_profile(backend(), user.token, false).balance_cents,
              test::k_starting_balance_cents - active.cost_cents);

    const ConnectInfo connect = get_connect_info(backend(), user.token, false);
    EXPECT_FALSE(connect.token.empty());
    EXPECT_EQ(connect, (ConnectInfo{true, created.session_id, "streaming", connect.token, "127.0.0.1", 47998, 48001,
                                    "h264", 60, 20000, ""}));

    EXPECT_FALSE(end_session(backend(), user.token, "", false));
    EXPECT_TRUE(end_session(backend(), user.token, created.session_id, false));
    EXPECT_EQ(get_active_session(backend(), user.token, false).error, "No active session");
    EXPECT_EQ(get_connect_info(backend(), user.token, false).error, "No active session");
}

TEST_F(RestClient, ErrorShapesBecomeTheirTexts) {
    const AuthResult user = sign_up("di@nubora.test");
    const std::string b = backend();
    const auto rent = [&] { return create_session(b, user.token, "srv-aurora-4090", "h264", false).error; };
    const auto sign_in = [&] { return login(b, "di@nubora.test", "pw-12345", false).error; };
    const auto me = [&] { return fetch_profile(b, user.token, false).error; };
    const auto servers = [&] { return list_servers(b, "", 0, 0, "rating", false).error; };
    struct Case { const char* fault; std::function<std::string()> error; std::string text; };
    const std::vector<Case> cases = {
        {"POST:/api/sessions=validation:Server id is required", rent, "Server id is required"},
        {"POST:/api/sessions=validation-empty", rent, "HTTP 422"},
        {"POST:/api/sessions=validation-nomsg", rent, "Validation error"},
        {"POST:/api/sessions=message:409:Server busy", rent, "Server busy"},
        {"POST:/api/sessions=detail:402:Top up first", rent, "Top up first"},
        {"POST:/api/sessions=json:503:{\"other\":1}", rent, "HTTP 503"},
        {"POST:/api/sessions=status:500", rent, "No response"},
        {"POST:/api/auth/login=json:200:{\"user\":{}}", sign_in, "Login failed (HTTP 200)"},
        {"POST:/api/auth/login=json:200:{\"detail\":\"Try again later\"}", sign_in, "Try again later"},
        {"POST:/api/auth/login=text:503", sign_in, "Login failed (HTTP 503)"},
        {"POST:/api/auth/register=json:201:{\"user\":{}}",
         [&] { return register_account(b, "x@nubora.test", "pw-12345", "X", "client", false).error; }, "HTTP 201"},
        {"GET:/api/auth/me=null", me, "No user profile"},
        {"GET:/api/auth/me=huge:17000000", me, "No response"},
        {"GET:/api/sessions/active=null", [&] { return get_active_session(b, user.token, false).error; },
         "No active session"},
        {"GET:/api/sessions/active/connect=detail:409:Still preparing",
         [&] { return get_connect_info(b, user.token, false).error; }, "Still preparing"},
        {"GET:/api/servers=text:503", servers, "HTTP 503"},
        {"GET:/api/servers=json:200:{\"servers\":[{\"id\":\"a\"", servers, "Invalid JSON"},
        {"GET:/api/servers=json:200:{\"servers\":[{\"maxFps\":\"fast\"}]}", servers, "Invalid JSON"},
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

}  // namespace
}  // namespace nb::ui
