// The configuration folder on Windows: the roaming application-data folder
// named by APPDATA, nothing else.
#include <windows.h>

#include <string>

#include "ui/user_folders.h"

namespace nb::ui {

namespace {

// The variable comes in the process code page; converting it ourselves keeps
// a user name outside ASCII intact, where the C++ library would assume UTF-8.
std::filesystem::path from_code_page(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return std::filesystem::path(wide);
}

}  // namespace

std::filesystem::path config_file_path(const EnvLookup& env) {
    const char* appdata = env("APPDATA");
    if (appdata == nullptr || *appdata == '\0') return {};
    const std::filesystem::path base = from_code_page(appdata);
    if (base.empty()) return {};
    return base / k_app_folder_name / "config.json";
}

}  // namespace nb::ui
