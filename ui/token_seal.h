// Seals the sign-in token for the config file so that a copied file signs
// nobody in elsewhere: on Linux secret-key authenticated encryption under a
// random key only this user can read, on Windows DPAPI for the user account.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace nb::ui {

class TokenSeal {
public:
    // `key_file` is created on first use; empty means no key can be kept,
    // and sealing fails. Windows keeps no key file and ignores it.
    explicit TokenSeal(std::filesystem::path key_file);

    // Base64 (standard alphabet, no line breaks) of nonce and ciphertext;
    // empty for an empty token or when sealing fails (logged).
    std::string seal(std::string_view token) const;

    // The token, or empty for anything that does not open under this user's
    // key: missing or other key, damaged or truncated text. Silent, because
    // the user simply signs in again.
    std::string unseal(std::string_view sealed) const;

    const std::filesystem::path& key_file() const { return key_file_; }

private:
    std::filesystem::path key_file_;
};

}  // namespace nb::ui
