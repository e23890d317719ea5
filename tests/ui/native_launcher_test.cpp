// Where the launcher's backend calls go: the configuration file's address,
// the built-in default without one, and the NB_SAAS_URL override on top.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_folder.h"
#include "ui/native_launcher.h"

namespace nb::ui {
namespace {

class NativeLauncherBackend : public ::testing::Test {
protected:
    ConfigStore store() const { return ConfigStore(folder_ / "config.json", TokenSeal(folder_ / "token.key")); }
    test::TempFolder folder_{"nb-launcher"};
};

TEST_F(NativeLauncherBackend, TakesTheConfiguredAddress) {
    LauncherConfig saved;
    saved.host = "api.example.net:8443";
    saved.use_https = true;
    ASSERT_TRUE(store().save(saved));
    const NativeLauncher launcher(store());
    EXPECT_EQ(launcher.backend_host(), "api.example.net:8443");
    EXPECT_TRUE(launcher.use_https());
}

TEST_F(NativeLauncherBackend, DefaultsToPort3000OnThisMachine) {
    const NativeLauncher launcher(store());
    EXPECT_EQ(launcher.backend_host(), "localhost:3000");
    EXPECT_FALSE(launcher.use_https());
}

TEST_F(NativeLauncherBackend, OverrideKeepsAtMost255Bytes) {
    LauncherConfig saved;
    saved.host = "configured.example.net";
    saved.use_https = true;
    ASSERT_TRUE(store().save(saved));
    NativeLauncher launcher(store());
    launcher.set_backend_host("override.example.net:3443");
    EXPECT_EQ(launcher.backend_host(), "override.example.net:3443");
    EXPECT_TRUE(launcher.use_https());  // the scheme stays the configuration's
    launcher.set_backend_host(std::string(300, 'h'));
    EXPECT_EQ(launcher.backend_host(), std::string(255, 'h'));
}

}  // namespace
}  // namespace nb::ui
