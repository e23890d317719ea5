// nubora:// on Windows: a per-user installed copy in the local application
// data folder and the scheme's keys under HKCU\Software\Classes. Nothing
// here needs administrator rights.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <string>

#include "app/url_scheme_registration.h"
#include "common/log_text.h"

namespace nb {

namespace {

namespace fs = std::filesystem;

constexpr wchar_t k_scheme_key[] = L"Software\\Classes\\nubora";

// The running program's path, however long (the 260-character limit is
// long gone for paths below a user's folder).
std::wstring running_executable(DWORD& error) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            error = GetLastError();
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) {
            error = ERROR_INSUFFICIENT_BUFFER;
            return {};
        }
        path.resize(path.size() * 2);
    }
}

fs::path local_app_data() {
    PWSTR folder = nullptr;
    fs::path result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder))) result = folder;
    CoTaskMemFree(folder);
    return result;
}

std::string narrow(const fs::path& path) {
    const std::wstring& wide = path.native();
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr,
                            nullptr);
    }
    return text;
}

bool same_path(const fs::path& a, const fs::path& b) {
    // Windows paths ignore case; a copy of ourselves onto ourselves would fail.
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Copies beside the installed path and moves the copy over it, so a crash
// mid-copy never leaves a broken program where the links point. A running
// installed copy cannot be replaced; the move then fails and says so.
DWORD refresh_installed_copy(const fs::path& running, const fs::path& installed) {
    CreateDirectoryW(installed.parent_path().c_str(), nullptr);  // an existing folder is fine
    const fs::path staged = installed.parent_path() / L".launcher.exe.new";
    DWORD error = ERROR_SUCCESS;
    if (!CopyFileW(running.c_str(), staged.c_str(), FALSE) ||
        !MoveFileExW(staged.c_str(), installed.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        DeleteFileW(staged.c_str());
    }
    return error;
}

bool set_string(HKEY key, const wchar_t* name, const std::wstring& value) {
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));  // with the terminator
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
}

// Creates or opens `subkey` of the scheme and sets its default value; a
// failure skips the key.
void set_scheme_subkey(const std::wstring& subkey, const std::wstring& value) {
    HKEY key = nullptr;
    const std::wstring path = std::wstring(k_scheme_key) + L"\\" + subkey;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    set_string(key, nullptr, value);
    RegCloseKey(key);
}

}  // namespace

void register_url_scheme(const ui::EnvLookup&) {
    DWORD error = ERROR_SUCCESS;
    const fs::path running = running_executable(error);
    if (running.empty()) {
        spdlog::warn("register_url_scheme: GetModuleFileNameA failed ({})", error);
        return;
    }
    fs::path target = running;
    if (const fs::path folder = local_app_data(); !folder.empty()) {
        const fs::path installed = folder / L"Nubora" / L"launcher.exe";
        if (!same_path(installed, running)) {
            if (const DWORD copy_error = refresh_installed_copy(running, installed); copy_error == ERROR_SUCCESS) {
                spdlog::info("register_url_scheme: refreshed installed copy at {}", log_safe(narrow(installed)));
                target = installed;
            } else {
                spdlog::warn("register_url_scheme: failed to refresh installed copy at {} ({})",
                             log_safe(narrow(installed)), copy_error);
            }
        }
    }

    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, k_scheme_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        spdlog::warn("register_url_scheme: could not open/create Classes\\nubora");
        return;
    }
    set_string(key, nullptr, L"URL:Nubora Protocol");
    set_string(key, L"URL Protocol", L"");
    RegCloseKey(key);
    set_scheme_subkey(L"DefaultIcon", target.native() + L",0");
    set_scheme_subkey(L"shell\\open\\command", L"\"" + target.native() + L"\" \"%1\"");
    spdlog::info("URL scheme nubora:// registered -> {}", log_safe(narrow(target)));
}

}  // namespace nb
