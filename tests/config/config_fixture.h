// A user of the launcher in a private folder: the config and key folders of
// the environment point into it, and helpers read and plant files there.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"
#include "ui/config_store.h"

namespace nb::test {

}  // namespace nb::test

namespace nb::ui {
// Failed comparisons show the values rather than bytes.
inline void PrintTo(const LauncherConfig& c, std::ostream* out) {
    *out << "{host=" << c.host << " https=" << c.use_https << " ru=" << (c.language == Language::russian)
         << " token=" << c.token << " email=" << c.email << " name=" << c.display_name << " role=" << c.role
         << " balance=" << c.balance_cents << "}";
}
}  // namespace nb::ui

namespace nb::test {

// A signed-in user whose every value differs from the defaults.
inline ui::LauncherConfig signed_in_user() {
    ui::LauncherConfig config;
    config.host = "api.example.net:8443";
    config.use_https = true;
    config.language = ui::Language::russian;
    config.token = "bearer-7f3a";
    config.email = "ann@example.net";
    config.display_name = "Ann";
    config.role = "merchant";
    config.balance_cents = 123456789012;
    return config;
}

class ConfigTest : public ::testing::Test {
protected:
    ConfigTest() {
        env_["APPDATA"] = (folder_ / "appdata").string();
        env_["XDG_DATA_HOME"] = (folder_ / "data").string();
    }

    ui::EnvLookup env() const {
        return [this](const char* name) -> const char* {
            auto found = env_.find(name);
            return found == env_.end() ? nullptr : found->second.c_str();
        };
    }
    ui::ConfigStore store() const { return ui::ConfigStore::for_user(env()); }
    ui::TokenSeal seal() const { return ui::TokenSeal(key_file()); }

    std::filesystem::path config_file() const { return folder_ / "appdata" / "Nubora" / "config.json"; }
    std::filesystem::path key_file() const { return folder_ / "data" / "Nubora" / "token.key"; }

    void plant_config(std::string_view text) const { write_text_file(config_file(), text); }
    nlohmann::json saved_json() const { return nlohmann::json::parse(read_text_file(config_file())); }

    ui::LauncherConfig load() const {
        ui::LauncherConfig config;
        store().load(config);
        return config;
    }

    TempFolder folder_{"nb-config"};
    std::map<std::string, std::string> env_;
};

}  // namespace nb::test
