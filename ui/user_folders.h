// Where the launcher keeps its per-user files: the configuration under the
// user's configuration folder, the token key under the user's data folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace nb::ui {

// The folder of ours inside each per-user base folder.
inline constexpr const char* k_app_folder_name = "Nubora";

// Reads one environment variable; nullptr when unset. Injected so tests can
// point the launcher at folders of their own.
using EnvLookup = std::function<const char*(const char*)>;

inline const char* process_env(const char* name) { return std::getenv(name); }

// A per-user XDG base folder: `variable` when it holds an absolute path,
// else $HOME/`below_home`; empty when neither is known.
std::filesystem::path xdg_folder(const EnvLookup& env, const char* variable, const std::filesystem::path& below_home);

// APPDATA/Nubora/config.json when APPDATA is set; on Linux (where it is
// handy for tests) else the XDG configuration folder. Empty when none of
// them is known: the launcher then runs on defaults.
std::filesystem::path config_file_path(const EnvLookup& env = process_env);

// $XDG_DATA_HOME/Nubora/token.key, else ~/.local/share/Nubora/token.key;
// empty when neither is known.
std::filesystem::path token_key_path(const EnvLookup& env = process_env);

}  // namespace nb::ui
