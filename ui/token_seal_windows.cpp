// The sign-in token sealed with DPAPI for the current Windows user; the blob
// travels as CRYPT32 base64. No key file: the user's account is the key.
#include <windows.h>

#include <dpapi.h>
#include <spdlog/spdlog.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "ui/token_seal.h"

namespace nb::ui {

namespace {

// Bearer tokens are a few hundred bytes; anything far beyond is not ours.
constexpr size_t k_max_sealed_text = 64 * 1024;
constexpr DWORD k_base64_flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;

// Frees what DPAPI allocated, wiping a clear token first.
struct LocalBlob {
    DATA_BLOB blob{};
    bool secret = false;
    LocalBlob() = default;
    LocalBlob(const LocalBlob&) = delete;
    LocalBlob& operator=(const LocalBlob&) = delete;
    ~LocalBlob() {
        if (blob.pbData == nullptr) return;
        if (secret) SecureZeroMemory(blob.pbData, blob.cbData);
        LocalFree(blob.pbData);
    }
};

std::string base64_of(const DATA_BLOB& blob) {
    DWORD length = 0;
    if (!CryptBinaryToStringA(blob.pbData, blob.cbData, k_base64_flags, nullptr, &length) || length == 0) return {};
    std::string text(length, '\0');
    if (!CryptBinaryToStringA(blob.pbData, blob.cbData, k_base64_flags, text.data(), &length)) return {};
    // The first call counts the terminating NUL, the second does not.
    text.resize(length);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

}  // namespace

TokenSeal::TokenSeal(std::filesystem::path key_file) : key_file_(std::move(key_file)) {}

std::string TokenSeal::seal(std::string_view token) const {
    if (token.empty()) return {};
    DATA_BLOB clear{static_cast<DWORD>(token.size()),
                    reinterpret_cast<BYTE*>(const_cast<char*>(token.data()))};
    LocalBlob sealed;
    if (!CryptProtectData(&clear, L"NB Token", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &sealed.blob)) {
        spdlog::warn("TokenSeal: CryptProtectData failed ({}); the sign-in is not kept", GetLastError());
        return {};
    }
    std::string text = base64_of(sealed.blob);
    if (text.empty()) spdlog::warn("TokenSeal: CryptBinaryToStringA failed ({})", GetLastError());
    return text;
}

std::string TokenSeal::unseal(std::string_view sealed) const {
    if (sealed.empty()) return {};
    if (sealed.size() > k_max_sealed_text) {
        spdlog::debug("TokenSeal: sealed token of {} bytes refused", sealed.size());
        return {};
    }
    const std::string text(sealed);  // CRYPT32 wants it NUL-terminated
    DWORD length = 0;
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &length, nullptr, nullptr) ||
        length == 0) {
        spdlog::debug("TokenSeal: sealed token is not base64");
        return {};
    }
    std::vector<BYTE> bytes(length);
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64, bytes.data(), &length, nullptr, nullptr)) {
        spdlog::debug("TokenSeal: sealed token is not base64");
        return {};
    }
    DATA_BLOB blob{length, bytes.data()};
    LocalBlob clear;
    clear.secret = true;
    if (!CryptUnprotectData(&blob, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &clear.blob)) {
        spdlog::debug("TokenSeal: sealed token does not open for this user ({})", GetLastError());
        return {};
    }
    return std::string(reinterpret_cast<const char*>(clear.blob.pbData), clear.blob.cbData);
}

}  // namespace nb::ui
