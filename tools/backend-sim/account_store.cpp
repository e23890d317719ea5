#include "tools/backend-sim/account_store.h"

#include <sodium.h>
#include <spdlog/spdlog.h>

#include <vector>

namespace nb {
namespace {

constexpr size_t k_min_password = 6;
constexpr size_t k_max_password = 128;
constexpr size_t k_max_email = 254;
constexpr size_t k_max_display_name = 64;

ApiError check_registration(const Registration& r) {
    const size_t at = r.email.find('@');
    if (r.email.size() > k_max_email || at == std::string::npos || at == 0 || at + 1 == r.email.size() ||
        r.email.find_first_of(" \t\r\n") != std::string::npos) {
        return ApiError::invalid("body", "email", "value is not a valid email address");
    }
    if (r.password.size() < k_min_password || r.password.size() > k_max_password) {
        return ApiError::invalid("body", "password", "Password must be 6 to 128 characters long");
    }
    if (r.display_name.size() > k_max_display_name) {
        return ApiError::invalid("body", "display_name", "Display name must be at most 64 bytes long");
    }
    if (r.role != "client" && r.role != "merchant") {
        return ApiError::invalid("body", "role", "Role must be 'client' or 'merchant'");
    }
    return ApiError::none();
}

Account read_account(const SqliteStatement& row) {
    return {row.text(0), row.text(1), row.text(2), row.text(3), row.int64(4)};
}

constexpr const char* k_account_columns = "SELECT id, email, display_name, role, balance_cents FROM users ";

}  // namespace

std::string random_hex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    randombytes_buf(raw.data(), raw.size());
    std::string hex(bytes * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), raw.data(), raw.size());
    hex.pop_back();
    return hex;
}

nlohmann::json Account::to_json() const {
    return {{"id", id}, {"email", email}, {"displayName", display_name}, {"role", role},
            {"balanceCents", balance_cents}};
}

AccountStore::AccountStore(SharedDatabase& shared, WallClock clock, bool fast_hash)
    : shared_(shared), clock_(std::move(clock)), fast_hash_(fast_hash) {}

std::string AccountStore::hash_password(const std::string& password) const {
    // The stored text names its own cost, so accounts made with either
    // setting verify later under any setting.
    const auto ops = fast_hash_ ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const auto mem = fast_hash_ ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), ops, mem) != 0) {
        spdlog::error("AccountStore: password hashing ran out of memory");
        return {};
    }
    return out;
}

std::string AccountStore::issue_token_locked(const std::string& user_id) {
    std::string token = random_hex(24);
    auto insert = shared_.db.prepare("INSERT INTO tokens (token, user_id, created_ms) VALUES (?1, ?2, ?3)");
    insert->bind(1, token).bind(2, user_id).bind(3, clock_());
    return insert->run() ? token : std::string();
}

ApiError AccountStore::register_account(const Registration& registration, int64_t balance_cents, Account& account,
                                        std::string& token) {
    if (ApiError e = check_registration(registration); !e.ok()) return e;
    // Hashing is slow on purpose; it runs before the lock so sign-ins of other
    // users are not held up behind it.
    const std::string hash = hash_password(registration.password);
    if (hash.empty()) return ApiError::message(500, "Could not store the password");

    std::lock_guard lock(shared_.mutex);
    auto existing = shared_.db.prepare("SELECT 1 FROM users WHERE email = ?1");
    existing->bind(1, registration.email);
    if (existing->step()) return ApiError::message(409, "Email already registered");

    account.id = "usr_" + random_hex(8);
    account.email = registration.email;
    account.display_name = registration.display_name.empty()
                               ? registration.email.substr(0, registration.email.find('@'))
                               : registration.display_name;
    account.role = registration.role;
    account.balance_cents = balance_cents;
    auto insert = shared_.db.prepare(
        "INSERT INTO users (id, email, display_name, role, password_hash, balance_cents, created_ms) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert->bind(1, account.id).bind(2, account.email).bind(3, account.display_name).bind(4, account.role);
    insert->bind(5, hash).bind(6, balance_cents).bind(7, clock_());
    if (!insert->run()) return ApiError::message(500, "Could not create the account");
    token = issue_token_locked(account.id);
    if (token.empty()) return ApiError::message(500, "Could not issue a token");
    spdlog::info("AccountStore: registered {} ({}, {})", account.email, account.id, account.role);
    return ApiError::none();
}

ApiError AccountStore::login(const std::string& email, const std::string& password, Account& account,
                             std::string& token) {
    std::string hash;
    {
        std::lock_guard lock(shared_.mutex);
        auto find = shared_.db.prepare(
            "SELECT id, email, display_name, role, balance_cents, password_hash FROM users WHERE email = ?1");
        find->bind(1, email);
        if (find->step()) {
            account = read_account(*find);
            hash = find->text(5);
        }
    }
    if (hash.empty() || crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) != 0) {
        return ApiError::message(401, "Invalid email or password");
    }
    std::lock_guard lock(shared_.mutex);
    token = issue_token_locked(account.id);
    if (token.empty()) return ApiError::message(500, "Could not issue a token");
    spdlog::info("AccountStore: {} signed in", account.email);
    return ApiError::none();
}

std::optional<Account> AccountStore::authenticate(const std::string& token) {
    if (token.empty()) return std::nullopt;
    std::lock_guard lock(shared_.mutex);
    auto find = shared_.db.prepare(std::string(k_account_columns) +
                                   "WHERE id = (SELECT user_id FROM tokens WHERE token = ?1)");
    find->bind(1, token);
    if (!find->step()) return std::nullopt;
    return read_account(*find);
}

bool AccountStore::ensure_account(const Registration& registration, int64_t balance_cents) {
    {
        std::lock_guard lock(shared_.mutex);
        auto existing = shared_.db.prepare("SELECT 1 FROM users WHERE email = ?1");
        existing->bind(1, registration.email);
        if (existing->step()) return true;
    }
    Account account;
    std::string token;
    const ApiError e = register_account(registration, balance_cents, account, token);
    if (!e.ok()) spdlog::error("AccountStore: could not create {}: {}", registration.email, e.detail.dump());
    return e.ok();
}

std::optional<Account> AccountStore::find_locked(const std::string& user_id) {
    auto find = shared_.db.prepare(std::string(k_account_columns) + "WHERE id = ?1");
    find->bind(1, user_id);
    if (!find->step()) return std::nullopt;
    return read_account(*find);
}

bool AccountStore::add_balance_locked(const std::string& user_id, int64_t delta_cents) {
    auto update = shared_.db.prepare("UPDATE users SET balance_cents = balance_cents + ?1 WHERE id = ?2");
    update->bind(1, delta_cents).bind(2, user_id);
    return update->run();
}

}  // namespace nb
