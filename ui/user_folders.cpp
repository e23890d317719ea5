#include "ui/user_folders.h"

namespace nb::ui {

// The XDG rule: a variable that is empty or not absolute is treated as unset,
// and the fallback sits below $HOME.
std::filesystem::path xdg_folder(const EnvLookup& env, const char* variable,
                                 const std::filesystem::path& below_home) {
    if (const char* value = env(variable); value && std::filesystem::path(value).is_absolute()) {
        return value;
    }
    if (const char* home = env("HOME"); home && *home) return std::filesystem::path(home) / below_home;
    return {};
}

std::filesystem::path token_key_path(const EnvLookup& env) {
    const auto base = xdg_folder(env, "XDG_DATA_HOME", std::filesystem::path(".local") / "share");
    if (base.empty()) return {};
    return base / k_app_folder_name / "token.key";
}

}  // namespace nb::ui
