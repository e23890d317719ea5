#include "ui/token_seal.h"

#include <fcntl.h>
#include <sodium.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <vector>

#include "ui/staged_file.h"

namespace nb::ui {

namespace {

constexpr size_t k_key_bytes = crypto_secretbox_KEYBYTES;
constexpr size_t k_overhead = crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES;
// Bearer tokens are a few hundred bytes; anything far beyond is not ours.
constexpr size_t k_max_sealed_text = 64 * 1024;
// A lost creation race is followed by reading the winner's key; a few rounds
// cover a winner whose key then vanished again.
constexpr int k_key_attempts = 3;

// The key lives in memory only for one call and is wiped afterwards.
struct SecretKey {
    std::array<unsigned char, k_key_bytes> bytes{};
    SecretKey() = default;
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;
    ~SecretKey() { sodium_memzero(bytes.data(), bytes.size()); }
};

enum class KeyRead { ok, missing, damaged, unreadable };

std::string errno_message() { return std::error_code(errno, std::generic_category()).message(); }

KeyRead read_key(const std::filesystem::path& path, SecretKey& key) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return KeyRead::missing;
        spdlog::warn("TokenSeal: cannot open key {}: {}", path.string(), errno_message());
        return KeyRead::unreadable;
    }
    KeyRead result = KeyRead::damaged;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == static_cast<off_t>(k_key_bytes)) {
        size_t used = 0;
        while (used < k_key_bytes) {
            const ssize_t got = ::read(fd, key.bytes.data() + used, k_key_bytes - used);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            used += static_cast<size_t>(got);
        }
        if (used == k_key_bytes) result = KeyRead::ok;
        // A key others can read is as good as none; narrow it rather than
        // give up the user's sign-in.
        if (result == KeyRead::ok && (info.st_mode & 077) != 0 && ::fchmod(fd, 0600) == 0) {
            spdlog::info("TokenSeal: key {} was readable by others; now 0600", path.string());
        }
    }
    ::close(fd);
    return result;
}

// Writes a fresh random key beside `path` and puts it in place, either only
// when no key exists yet or over a damaged one.
StagedFile::Placed write_new_key(const std::filesystem::path& path, bool replace, SecretKey& key,
                                 std::string& error) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    auto staged = StagedFile::create(path, error);
    if (!staged) return StagedFile::Placed::failed;
    randombytes_buf(key.bytes.data(), key.bytes.size());
    const std::string_view bytes(reinterpret_cast<const char*>(key.bytes.data()), key.bytes.size());
    if (!staged->write_all(bytes, error)) return StagedFile::Placed::failed;
    if (replace) return staged->replace_target(error) ? StagedFile::Placed::done : StagedFile::Placed::failed;
    return staged->place_if_absent(error);
}

bool load_or_create_key(const std::filesystem::path& path, SecretKey& key) {
    for (int attempt = 0; attempt < k_key_attempts; ++attempt) {
        const KeyRead read = read_key(path, key);
        if (read == KeyRead::ok) return true;
        if (read == KeyRead::unreadable) return false;
        const bool replace = read == KeyRead::damaged;
        if (replace) spdlog::warn("TokenSeal: key {} is damaged; replacing it", path.string());
        std::string error;
        switch (write_new_key(path, replace, key, error)) {
            case StagedFile::Placed::done:
                spdlog::info("TokenSeal: created key {}", path.string());
                return true;
            case StagedFile::Placed::already_exists:
                continue;  // another process won the race: use its key
            case StagedFile::Placed::failed:
                spdlog::warn("TokenSeal: {}", error);
                return false;
        }
    }
    spdlog::warn("TokenSeal: key {} keeps changing under us; giving up", path.string());
    return false;
}

}  // namespace

TokenSeal::TokenSeal(std::filesystem::path key_file) : key_file_(std::move(key_file)) {}

std::string TokenSeal::seal(std::string_view token) const {
    if (token.empty()) return {};
    if (key_file_.empty()) {
        spdlog::warn("TokenSeal: no folder for the key (neither XDG_DATA_HOME nor HOME is set); "
                     "the sign-in is not kept");
        return {};
    }
    if (sodium_init() < 0) {
        spdlog::warn("TokenSeal: libsodium failed to initialise");
        return {};
    }
    SecretKey key;
    if (!load_or_create_key(key_file_, key)) return {};

    std::vector<unsigned char> blob(k_overhead + token.size());
    randombytes_buf(blob.data(), crypto_secretbox_NONCEBYTES);
    crypto_secretbox_easy(blob.data() + crypto_secretbox_NONCEBYTES,
                          reinterpret_cast<const unsigned char*>(token.data()), token.size(), blob.data(),
                          key.bytes.data());

    std::string text(sodium_base64_ENCODED_LEN(blob.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), blob.data(), blob.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.find('\0'));
    return text;
}

std::string TokenSeal::unseal(std::string_view sealed) const {
    if (sealed.empty() || key_file_.empty()) return {};
    if (sealed.size() > k_max_sealed_text) {
        spdlog::debug("TokenSeal: sealed token of {} bytes refused", sealed.size());
        return {};
    }
    if (sodium_init() < 0) return {};

    std::vector<unsigned char> blob(sealed.size() / 4 * 3 + 3);
    size_t blob_size = 0;
    // Line breaks and blanks are skipped, as a hand-edited file may have them.
    if (sodium_base642bin(blob.data(), blob.size(), sealed.data(), sealed.size(), " \t\r\n", &blob_size, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0) {
        spdlog::debug("TokenSeal: sealed token is not base64");
        return {};
    }
    if (blob_size < k_overhead) {
        spdlog::debug("TokenSeal: sealed token is too short");
        return {};
    }
    SecretKey key;
    if (read_key(key_file_, key) != KeyRead::ok) {
        spdlog::debug("TokenSeal: no usable key at {}", key_file_.string());
        return {};
    }
    std::string token(blob_size - k_overhead, '\0');
    if (crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(token.data()),
                                   blob.data() + crypto_secretbox_NONCEBYTES,
                                   blob_size - crypto_secretbox_NONCEBYTES, blob.data(), key.bytes.data()) != 0) {
        spdlog::debug("TokenSeal: sealed token does not open under this user's key");
        return {};
    }
    return token;
}

}  // namespace nb::ui
