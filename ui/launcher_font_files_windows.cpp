// The launcher's faces on Windows: Segoe UI from the system's fonts folder,
// Tahoma where Segoe UI is missing (wine ships Tahoma); both carry Cyrillic.
// The symbols come from Segoe UI Symbol.
#include "ui/launcher_fonts.h"

#include <windows.h>

#include <filesystem>
#include <initializer_list>

namespace nb::ui {

const char* const k_launcher_face = "Segoe UI";

namespace {

// The first of `names` in the system's fonts folder, as UTF-8 (ImGui widens
// file names itself); empty when none is there.
std::string first_system_font(std::initializer_list<const wchar_t*> names) {
    wchar_t windows_folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows_folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::filesystem::path fonts = std::filesystem::path(windows_folder) / L"Fonts";
    std::error_code error;
    for (const wchar_t* name : names) {
        const std::filesystem::path file = fonts / name;
        if (!std::filesystem::exists(file, error)) continue;
        const std::u8string utf8 = file.u8string();
        return std::string(utf8.begin(), utf8.end());
    }
    return {};
}

}  // namespace

std::string find_launcher_face(bool bold) {
    return bold ? first_system_font({L"seguisb.ttf", L"segoeuib.ttf", L"tahomabd.ttf"})
                : first_system_font({L"segoeui.ttf", L"tahoma.ttf"});
}

// Segoe UI and Tahoma lack the shapes, the gear and the check mark.
std::string find_symbol_face() { return first_system_font({L"seguisym.ttf"}); }

}  // namespace nb::ui
