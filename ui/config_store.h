// Loads and saves the launcher's config file (Nubora/config.json in the
// user's configuration folder) with the sign-in token sealed.
#pragma once

#include <filesystem>

#include "ui/launcher_config.h"
#include "ui/token_seal.h"
#include "ui/user_folders.h"

namespace nb::ui {

class ConfigStore {
public:
    // An empty `config_file` turns loading and saving off.
    ConfigStore(std::filesystem::path config_file, TokenSeal seal);

    // The store for the current user, with its paths from the environment.
    static ConfigStore for_user(const EnvLookup& env = process_env);

    // Fills `config` (holding its defaults) from the file. A missing file
    // leaves the defaults; a damaged one keeps what was read before the
    // damage and returns false. The session is taken only when its token
    // unseals.
    bool load(LauncherConfig& config) const;

    // Replaces the file with `config` in one step, so a crash or a full disk
    // leaves the previous file whole. The token is written only while held.
    bool save(const LauncherConfig& config) const;

    // Signs out: clears the session in `config` and removes the sealed token
    // from the file, leaving its other keys as they are.
    void forget_session(LauncherConfig& config) const;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    TokenSeal seal_;
};

}  // namespace nb::ui
