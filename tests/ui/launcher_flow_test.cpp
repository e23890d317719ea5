// The launcher's flow without a window: apply steps, screen transitions,
// deep links and the polling rule, against a scripted backend.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "tests/support/log_capture.h"
#include "tests/ui/launcher_fixture.h"
#include "ui/launcher_storage.h"
#include "ui/localisation.h"

namespace nb::ui {
namespace {

using test::settle;

constexpr const char* k_link = "nubora://session?host=10.0.0.7&token=abc&control_port=48101&fps=120";

class LauncherFlow : public ::testing::Test {
protected:
    void TearDown() override { set_language(false); }

    void type_credentials(const char* email, const char* password) { test::type_credentials(impl(), email, password); }

    NativeLauncher::Impl& impl() { return launcher_.state(); }

    test::TempFolder folder_{"nb-launcher"};
    test::ScriptedBackend backend_;
    NativeLauncher launcher_{backend_.api(), test::folder_store(folder_)};
};

TEST_F(LauncherFlow, StartsSignedOutAndSignInStoresTheUserAndOpensTheBrowser) {
    EXPECT_EQ(std::tie(impl().screen, impl().logged_in, impl().remember_me), std::tuple(Screen::Auth, false, true));
    EXPECT_EQ(launcher_.backend_host(), "localhost:3000");  // this machine's backend without a configuration
    EXPECT_FALSE(launcher_.use_https());
    type_credentials("typed@example.com", "secret");
    ASSERT_TRUE(test::act(impl(), start_sign_in));
    EXPECT_EQ(std::tie(impl().logged_in, impl().screen, impl().token, impl().email, impl().display_name,
                       impl().balance_cents, impl().status.kind, impl().status.text),
              std::tuple(true, Screen::Browse, "tok-1", "ada@example.com", "Ada", 1050, StatusKind::success, ""));
    EXPECT_EQ(impl().password_input[0], '\0') << "the password does not linger after use";
}

TEST_F(LauncherFlow, FailedSignInShowsTheBackendTextOrTheLocalisedFallback) {
    const struct { const char* backend_error; bool russian; const char* shown; } cases[] = {
        {"", false, "Invalid email or password"},
        {"", true, "Неверный email или пароль"},
        {"Konto gesperrt", true, "Konto gesperrt"},
        {"No response", false, "No response"},
    };
    for (const auto& c : cases) {
        set_language(c.russian);
        backend_.auth = AuthResult{};
        backend_.auth.error = c.backend_error;
        type_credentials("a@b.c", "pw");
        ASSERT_TRUE(test::act(impl(), start_sign_in));
        EXPECT_EQ(std::tie(impl().logged_in, impl().screen, impl().status.kind, impl().status.text),
                  std::tuple(false, Screen::Auth, StatusKind::error, c.shown));
        EXPECT_STREQ(impl().email_input.data(), "a@b.c") << "typed text survives a failure";
    }
}

TEST_F(LauncherFlow, RegistrationSendsTheRoleAndFallsBackToTypedProfile) {
    backend_.auth.email.clear();
    backend_.auth.display_name.clear();
    type_credentials("new@example.com", "pw");
    std::snprintf(impl().display_name_input.data(), impl().display_name_input.size(), "Newbie");
    impl().role_choice = 1;
    impl().screen = Screen::Register;
    ASSERT_TRUE(test::act(impl(), start_registration));
    EXPECT_EQ(backend_.last_role, "merchant");
    EXPECT_EQ(impl().email, "new@example.com");
    EXPECT_EQ(impl().display_name, "Newbie");
    EXPECT_EQ(impl().screen, Screen::Browse);

    forget_session(impl());
    impl().role_choice = 0;
    type_credentials("c@example.com", "pw");
    ASSERT_TRUE(test::act(impl(), start_registration));
    EXPECT_EQ(backend_.last_role, "client");
}

TEST_F(LauncherFlow, ServerListReplacesOrEmptiesTheBrowser) {
    test::sign_in_as(impl(), "Ada", 100);
    backend_.list.servers = {test::make_server("a", "RTX 4090", "online", 250, 4.5f)};
    backend_.list.total = 1;
    impl().sort_choice = 1;
    ASSERT_TRUE(test::act(impl(), start_load_servers));
    EXPECT_EQ(backend_.last_sort, "price");
    ASSERT_EQ(impl().servers.size(), 1u);
    EXPECT_EQ(impl().total, 1);
    EXPECT_TRUE(impl().servers_loaded);

    backend_.list = ServerListResult{false, {test::make_server("b", "", "online", 1, 1.0f)}, 5, "No response"};
    ASSERT_TRUE(test::act(impl(), start_load_servers));
    EXPECT_TRUE(impl().servers.empty());
    EXPECT_EQ(impl().total, 0);
    EXPECT_TRUE(impl().servers_loaded) << "a failure does not reload in a loop";
    EXPECT_EQ(impl().status.text, "No response");
    EXPECT_EQ(impl().status.kind, StatusKind::error);
}

TEST_F(LauncherFlow, RentingOpensTheSessionScreenPreparing) {
    test::sign_in_as(impl(), "Ada", 100);
    impl().selected = test::make_server("pc-9", "RTX 3080", "online", 150, 4.0f);
    impl().screen = Screen::Detail;
    ASSERT_TRUE(test::act(impl(), start_rent));
    EXPECT_EQ(std::tie(backend_.last_server_id, backend_.last_codec), std::tuple("pc-9", "h264"));
    EXPECT_EQ(std::tie(impl().session_id, impl().session_status, impl().screen),
              std::tuple("s-1", "preparing", Screen::Session));

    backend_.created = CreateSessionResult{false, "", "", "Server is busy"};
    impl().screen = Screen::Detail;
    ASSERT_TRUE(test::act(impl(), start_rent));
    EXPECT_EQ(impl().screen, Screen::Detail);
    EXPECT_EQ(impl().status.text, "Server is busy");
}

TEST_F(LauncherFlow, PollingUpdatesTheSessionAndDropsOneThatIsGone) {
    test::sign_in_as(impl(), "Ada", 100);
    ASSERT_TRUE(test::act(impl(), start_poll));
    EXPECT_EQ(std::tie(impl().session_id, impl().session_status, impl().duration_sec, impl().cost_cents),
              std::tuple("s-1", "streaming", 3725, 1234));

    backend_.active = ActiveSession{};
    backend_.active.error = "No response";
    ASSERT_TRUE(test::act(impl(), start_poll));
    EXPECT_EQ(impl().session_id, "s-1") << "a network failure changes nothing";

    backend_.active.error = "No active session";
    ASSERT_TRUE(test::act(impl(), start_poll));
    EXPECT_TRUE(impl().session_id.empty());
    EXPECT_TRUE(impl().session_status.empty());
}

TEST_F(LauncherFlow, PollsEveryThreeSecondsUnlessStreamingBusyOrLinkPending) {
    test::sign_in_as(impl(), "Ada", 100);
    impl().last_poll_s = 100.0;
    EXPECT_FALSE(poll_due(impl(), 103.0));
    EXPECT_TRUE(poll_due(impl(), 103.5));
    impl().session_status = "streaming";
    EXPECT_FALSE(poll_due(impl(), 200.0));
    impl().session_status = "preparing";

    impl().deep_link = k_link;
    EXPECT_FALSE(poll_if_due(impl(), 200.0));
    impl().deep_link.clear();

    const int before = backend_.calls.load();
    EXPECT_TRUE(poll_if_due(impl(), 200.0));
    EXPECT_FALSE(poll_if_due(impl(), 210.0)) << "slot still busy";
    settle(impl());
    EXPECT_EQ(backend_.calls.load(), before + 1);
    EXPECT_EQ(impl().last_poll_s, 200.0);
}

TEST_F(LauncherFlow, LaunchStreamHandsOverTheControlPortAndBackend) {
    test::sign_in_as(impl(), "Ada", 100);
    launcher_.set_backend_host("market.example:8443");
    impl().use_https = true;
    backend_.connect = {true, "", "", "agent-token", "203.0.113.5", 47998, 48001, "hevc", 120, 50000, ""};
    ASSERT_TRUE(start_launch_stream(impl()));
    EXPECT_FALSE(start_launch_stream(impl())) << "a second press while the first is out starts nothing";
    settle(impl());
    const NativeLauncher::Result& result = impl().result;
    const auto& p = result.params;
    EXPECT_EQ(std::tie(p.host, p.port, p.token, p.codec, p.fps, p.bitrate, p.width, p.height),
              std::tuple("203.0.113.5", 48001, "agent-token", VideoCodec::HEVC, 120, 50000, 1920, 1080));
    EXPECT_EQ(std::tie(result.connect, result.backend, result.api_token, result.use_https),
              std::tuple(true, "market.example:8443", "tok-1", true));
    EXPECT_EQ(backend_.last_backend, "market.example:8443");
}

TEST_F(LauncherFlow, EndingTheSessionAlwaysReturnsToAFreshBrowser) {
    for (const bool end_ok : {true, false}) {
        test::sign_in_as(impl(), "Ada", 100);
        impl().session_id = "s-1";
        impl().session_status = "streaming";
        impl().servers_loaded = true;
        impl().screen = Screen::Session;
        backend_.end_ok = end_ok;
        ASSERT_TRUE(start_end_session(impl()));
        EXPECT_TRUE(impl().ending);
        settle(impl());
        EXPECT_FALSE(impl().ending);
        EXPECT_TRUE(impl().session_id.empty());
        EXPECT_EQ(impl().screen, Screen::Browse);
        EXPECT_FALSE(impl().servers_loaded);
    }
}

TEST_F(LauncherFlow, ProfileRefreshUpdatesOrSignsOutClearingTheSessionAndCachedServers) {
    test::sign_in_as(impl(), "Ada", 0);
    ASSERT_TRUE(test::act(impl(), start_profile_refresh));
    EXPECT_EQ(impl().balance_cents, 2500);
    EXPECT_EQ(impl().display_name, "Ada L.");
    EXPECT_EQ(impl().email, "ada@example.com") << "an empty field keeps what is held";

    impl().session_id = "s-1";
    impl().servers = {test::make_server("a", "RTX 4090", "online", 1, 1.0f)};
    impl().servers_loaded = true;
    test::LogCapture log;
    backend_.profile = UserProfile{};
    backend_.profile.error = "Unauthorized";
    ASSERT_TRUE(test::act(impl(), start_profile_refresh));
    EXPECT_EQ(std::tie(impl().logged_in, impl().token, impl().balance_cents, impl().session_id, impl().servers_loaded,
                       impl().screen),
              std::tuple(false, "", 0, "", false, Screen::Auth));
    EXPECT_TRUE(impl().servers.empty());
    EXPECT_TRUE(log.contains("NativeLauncher: saved token invalid, clearing"));
}

TEST_F(LauncherFlow, DeepLinkAtStartConnectsOnlyWhenSignedIn) {
    launcher_.set_deep_link(k_link);
    EXPECT_FALSE(take_deep_link_at_start(impl()));
    EXPECT_EQ(impl().deep_link, k_link) << "kept for after sign-in";

    test::sign_in_as(impl(), "Ada", 100);
    test::LogCapture log;
    EXPECT_TRUE(take_deep_link_at_start(impl()));
    EXPECT_TRUE(impl().deep_link.empty());
    EXPECT_TRUE(impl().result.connect);
    EXPECT_EQ(impl().result.params.host, "10.0.0.7");
    EXPECT_EQ(impl().result.params.port, 48101);
    EXPECT_EQ(impl().result.api_token, "tok-1");
    EXPECT_TRUE(log.contains("NativeLauncher: deep-link auto-connect to 10.0.0.7:48101"));

    reset_result(impl().result);
    impl().deep_link = "nubora://session?host=only";
    EXPECT_FALSE(take_deep_link_at_start(impl()));
    EXPECT_FALSE(impl().result.connect);
    EXPECT_TRUE(impl().deep_link.empty()) << "never retried";
    EXPECT_EQ(impl().screen, Screen::Session);
    EXPECT_TRUE(log.contains("NativeLauncher: could not parse deep-link URI"));
}

TEST_F(LauncherFlow, DeepLinkGivenSignedOutIsTakenBySessionScreenAfterSignIn) {
    launcher_.set_deep_link(k_link);
    EXPECT_EQ(impl().screen, Screen::Auth);
    type_credentials("a@b.c", "pw");
    ASSERT_TRUE(test::act(impl(), start_sign_in));
    EXPECT_EQ(impl().screen, Screen::Session);
    EXPECT_TRUE(take_deep_link_in_session(impl()));
    EXPECT_TRUE(impl().result.connect);
    EXPECT_EQ(impl().result.params.fps, 120);

    reset_result(impl().result);
    impl().deep_link = "nubora://session?token=x";
    EXPECT_TRUE(take_deep_link_in_session(impl()));
    EXPECT_FALSE(impl().result.connect);
    EXPECT_EQ(impl().status.text, "Invalid nubora:// link");
    EXPECT_EQ(impl().screen, Screen::Browse);
    EXPECT_FALSE(take_deep_link_in_session(impl()));
}

TEST_F(LauncherFlow, CallsFromStartUpMoveSignedInUsersOnly) {
    launcher_.set_deep_link(k_link);
    launcher_.notify_session_ended("Session ended");
    EXPECT_EQ(impl().screen, Screen::Auth);
    EXPECT_TRUE(impl().ended);

    test::sign_in_as(impl(), "Ada", 100);
    impl().session_id = "s-1";
    impl().session_status = "streaming";
    launcher_.notify_session_ended("Session ended");
    EXPECT_EQ(impl().screen, Screen::Browse);
    EXPECT_EQ(impl().ended_reason, "Session ended");
    EXPECT_TRUE(impl().session_id.empty());
    EXPECT_TRUE(impl().session_status.empty());
    launcher_.set_deep_link(k_link);
    EXPECT_EQ(impl().screen, Screen::Session);
}

TEST_F(LauncherFlow, BackendIsTheConfiguredOneAndAnOverrideIsCutToWholeCharacters) {
    LauncherConfig saved;
    saved.host = "api.example.net:8443";
    saved.use_https = true;
    ASSERT_TRUE(test::folder_store(folder_).save(saved));
    NativeLauncher launcher(backend_.api(), test::folder_store(folder_));
    EXPECT_EQ(launcher.backend_host(), "api.example.net:8443");
    EXPECT_TRUE(launcher.use_https());
    launcher.set_backend_host("override.example.net:3443");
    EXPECT_EQ(launcher.backend_host(), "override.example.net:3443");
    EXPECT_TRUE(launcher.use_https());  // the scheme stays the configuration's

    launcher.set_backend_host(std::string(300, 'h'));
    EXPECT_EQ(launcher.backend_host(), std::string(255, 'h'));
    // A two-byte character straddling the limit is left out whole.
    launcher.set_backend_host(std::string(254, 'h') + "ж" + "tail");
    EXPECT_EQ(launcher.backend_host(), std::string(254, 'h'));
}

TEST_F(LauncherFlow, RememberedSignInSurvivesARestartAndSignOutForgetsIt) {
    for (const bool remember : {true, false}) {
        test::TempFolder folder("nb-launcher-restart");
        {
            NativeLauncher first(backend_.api(), test::folder_store(folder));
            first.state().remember_me = remember;
            test::type_credentials(first.state(), "a@b.c", "pw");
            ASSERT_TRUE(test::act(first.state(), start_sign_in));
        }
        NativeLauncher second(backend_.api(), test::folder_store(folder));
        EXPECT_EQ(second.state().logged_in, remember);
        EXPECT_EQ(second.state().screen, remember ? Screen::Browse : Screen::Auth);
        if (!remember) continue;
        EXPECT_EQ(second.state().token, "tok-1");
        EXPECT_EQ(second.state().balance_cents, 1050);
        const std::string file = test::read_text_file(folder / "Nubora" / "config.json");
        EXPECT_EQ(file.find("tok-1"), std::string::npos) << "the token is sealed, never in clear";
        forget_session(second.state());
        NativeLauncher third(backend_.api(), test::folder_store(folder));
        EXPECT_FALSE(third.state().logged_in);
    }
}

TEST_F(LauncherFlow, LanguageChoicePersistsAcrossARestart) {
    set_language(true);
    save_config(impl());
    set_language(false);
    NativeLauncher again(backend_.api(), test::folder_store(folder_));
    EXPECT_TRUE(is_russian());
}

}  // namespace
}  // namespace nb::ui
