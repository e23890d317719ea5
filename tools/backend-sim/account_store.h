// Accounts of the marketplace: registration with hashed passwords, sign-in
// with bearer tokens, and the balance that rented sessions are charged to.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "tools/backend-sim/api_error.h"
#include "tools/backend-sim/shared_database.h"

namespace nb {

struct Account {
    std::string id;
    std::string email;
    std::string display_name;
    std::string role;
    int64_t balance_cents = 0;

    // The user object of the API, camelCase as the client reads it.
    nlohmann::json to_json() const;
};

struct Registration {
    std::string email;
    std::string password;
    std::string display_name;  // empty: the part of the e-mail before '@'
    std::string role = "client";
};

class AccountStore {
public:
    AccountStore(SharedDatabase& shared, WallClock clock, bool fast_hash);

    // New account with `balance_cents` and a first token; 409 when the
    // e-mail is taken, 422 for a malformed field.
    ApiError register_account(const Registration& registration, int64_t balance_cents, Account& account,
                              std::string& token);
    // 401 for an unknown e-mail or a wrong password (the same text for both,
    // so the answer does not reveal which accounts exist).
    ApiError login(const std::string& email, const std::string& password, Account& account, std::string& token);
    std::optional<Account> authenticate(const std::string& token);

    // Creates the account unless the e-mail exists; for --seed-demo.
    bool ensure_account(const Registration& registration, int64_t balance_cents);

    // With the database lock held by the caller.
    std::optional<Account> find_locked(const std::string& user_id);
    bool add_balance_locked(const std::string& user_id, int64_t delta_cents);

private:
    std::string hash_password(const std::string& password) const;
    std::string issue_token_locked(const std::string& user_id);

    SharedDatabase& shared_;
    WallClock clock_;
    bool fast_hash_;
};

// Random URL-safe identifiers: `bytes` random bytes as lower-case hex.
std::string random_hex(size_t bytes);

}  // namespace nb
