// The launcher's faces on Windows: Segoe UI from the system's fonts folder,
// Tahoma where Segoe UI is missing (wine ships Tahoma); both carry Cyrillic.
#include "ui/launcher_fonts.h"

#include <windows.h>

#include <filesystem>

namespace nb::ui {

const char* const k_launcher_face = "Segoe UI";

std::string find_launcher_face(bool bold) {
    wchar_t windows_folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows_folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::filesystem::path fonts = std::filesystem::path(windows_folder) / L"Fonts";
    const wchar_t* const candidates[] = {bold ? L"seguisb.ttf" : L"segoeui.ttf", bold ? L"segoeuib.ttf" : L"",
                                         bold ? L"tahomabd.ttf" : L"tahoma.ttf"};
    std::error_code error;
    for (const wchar_t* name : candidates) {
        if (*name == L'\0') continue;
        const std::filesystem::path file = fonts / name;
        if (!std::filesystem::exists(file, error)) continue;
        // ImGui takes UTF-8 names and widens them itself.
        const std::u8string utf8 = file.u8string();
        return std::string(utf8.begin(), utf8.end());
    }
    return {};
}

}  // namespace nb::ui
