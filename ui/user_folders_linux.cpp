// The configuration folder on Linux: APPDATA when a test or a user sets it,
// else the XDG configuration folder.
#include "ui/user_folders.h"

namespace nb::ui {

std::filesystem::path config_file_path(const EnvLookup& env) {
    std::filesystem::path base;
    if (const char* appdata = env("APPDATA"); appdata && *appdata) {
        base = appdata;
    } else {
        base = xdg_folder(env, "XDG_CONFIG_HOME", ".config");
    }
    if (base.empty()) return {};
    return base / k_app_folder_name / "config.json";
}

}  // namespace nb::ui
