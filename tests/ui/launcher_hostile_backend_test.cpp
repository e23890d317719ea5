// The launcher against a backend that misbehaves: every broken answer ends
// as an error line on the screen the user was on, nothing blocks the frame
// loop meanwhile, and the same action works once the backend recovers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "tests/support/rest_fixture.h"
#include "tests/ui/launcher_fixture.h"
#include "ui/launcher_actions.h"
#include "ui/launcher_storage.h"

namespace nb::ui {
namespace {

using namespace std::chrono_literals;
using test::settle;

class LauncherHostileBackend : public test::RestSimFixture {
protected:
    void SetUp() override {
        RestSimFixture::SetUp();
        launcher_.set_backend_host(backend());
    }

    NativeLauncher::Impl& impl() { return launcher_.state(); }

    void sign_in_as_demo() {
        test::type_credentials(impl(), "demo@nubora.test", "nubora-demo");
        ASSERT_TRUE(test::act(impl(), start_sign_in));
    }

    // The status line after a failed action: an error, with a text that is
    // safe to show and to log as it stands.
    void expect_error_shown(const std::string& what) {
        EXPECT_EQ(impl().status.kind, StatusKind::error) << what;
        EXPECT_FALSE(impl().status.text.empty()) << what;
        EXPECT_LE(impl().status.text.size(), 400u) << what;
        const std::string& text = impl().status.text;
        EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) { return c >= 0 && c < 0x20; }))
            << what << ": " << text;
    }

    test::TempFolder folder_{"nb-hostile"};
    NativeLauncher launcher_{rest_backend_api(), test::folder_store(folder_)};
};

TEST_F(LauncherHostileBackend, BrokenSignInAnswersShowAnErrorAndTheNextTryWorks) {
    const char* faults[] = {
        "POST:/api/auth/login=truncate",
        "POST:/api/auth/login=huge:17000000",
        "POST:/api/auth/login=json:200:{\"token\":7,\"user\":[1,2]}",
        "POST:/api/auth/login=json:200:[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]",
        "POST:/api/auth/login=text:502",
        "POST:/api/auth/login=status:500",
        "POST:/api/auth/login=detail:401:\x1b[31mforged\nline",
        "GET:/api/auth/me=json:200:{\"balance\":\"lots\"}",
    };
    for (const char* fault : faults) {
        add_fault(fault);
        sign_in_as_demo();
        if (!impl().logged_in) {
            expect_error_shown(fault);
            EXPECT_EQ(impl().screen, Screen::Auth) << fault;
        }
        clear_faults();
        if (impl().logged_in) forget_session(impl());
        sign_in_as_demo();
        EXPECT_TRUE(impl().logged_in) << "after " << fault;
        EXPECT_EQ(impl().screen, Screen::Browse) << "after " << fault;
        forget_session(impl());
    }
}

TEST_F(LauncherHostileBackend, BrokenCatalogueAndRentAnswersKeepTheBrowserUsable) {
    sign_in_as_demo();
    ASSERT_TRUE(impl().logged_in);
    ASSERT_TRUE(test::act(impl(), start_load_servers));
    ASSERT_FALSE(impl().servers.empty());
    const ServerInfo first = impl().servers.front();
    const char* faults[] = {
        "GET:/api/servers=truncate",
        "GET:/api/servers=huge:17000000",
        "GET:/api/servers=json:200:{\"servers\":{\"id\":1}}",
        "GET:/api/servers=json:200:{\"servers\":[{\"id\":null,\"pricePerHour\":\"x\"}]}",
        "POST:/api/sessions=truncate",
        "POST:/api/sessions=json:201:{\"session_id\":[],\"status\":{}}",
    };
    for (const char* fault : faults) {
        add_fault(fault);
        const bool rent = std::string(fault).find("/api/sessions") != std::string::npos;
        if (rent) impl().selected = first;
        ASSERT_TRUE(test::act(impl(), rent ? start_rent : start_load_servers)) << fault;
        expect_error_shown(fault);
        EXPECT_EQ(impl().screen, Screen::Browse) << fault;
        clear_faults();
        ASSERT_TRUE(test::act(impl(), start_load_servers));
        EXPECT_FALSE(impl().servers.empty()) << "after " << fault;
    }
}

TEST_F(LauncherHostileBackend, ASlowAnswerNeverHoldsTheFrameLoop) {
    sign_in_as_demo();
    ASSERT_TRUE(impl().logged_in);
    add_fault("GET:/api/servers=delay:1500");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(start_load_servers(impl()));
    // What a frame does while the answer is out: apply what is ready.
    for (int frame = 0; frame < 10; ++frame) apply_ready_results(impl());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms) << "a frame waited on the backend";
    settle(impl());
    EXPECT_FALSE(impl().servers.empty());
}

TEST_F(LauncherHostileBackend, HttpsAgainstAPlainServerFailsCleanlyAndSwitchingBackWorks) {
    impl().use_https = true;
    sign_in_as_demo();
    EXPECT_FALSE(impl().logged_in);
    expect_error_shown("TLS to a plain HTTP server");
    impl().use_https = false;
    sign_in_as_demo();
    EXPECT_TRUE(impl().logged_in);
}

}  // namespace
}  // namespace nb::ui
