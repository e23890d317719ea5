#include "ui/config_store.h"

#include <spdlog/spdlog.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

#include "common/log_text.h"
#include "ui/staged_file.h"

namespace nb::ui {

namespace {

using json = nlohmann::json;

// The file holds a handful of short values; anything much larger is not
// ours, and is refused before it costs memory to parse.
constexpr size_t k_max_config_bytes = 1024 * 1024;
// A save takes milliseconds; a temporary file this old was left by a
// process that died while saving, and still holds a sealed token.
constexpr std::chrono::seconds k_leftover_age{600};

// Doubles of smaller magnitude convert to int64_t without overflow.
constexpr double k_int64_float_limit = 9223372036854775808.0;  // 2^63

bool take(const json& value, std::string& out) {
    if (!value.is_string()) return false;
    out = value.get<std::string>();
    return true;
}

bool take(const json& value, bool& out) {
    if (!value.is_boolean()) return false;
    out = value.get<bool>();
    return true;
}

// A signed 64-bit integer; a float is taken only when it is a whole number
// in range, since the library would otherwise convert it with undefined
// behaviour.
bool take(const json& value, int64_t& out) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        out = static_cast<int64_t>(number);
        return true;
    }
    if (value.is_number_integer()) {
        out = value.get<int64_t>();
        return true;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number || number < -k_int64_float_limit ||
            number >= k_int64_float_limit) {
            return false;
        }
        out = static_cast<int64_t>(number);
        return true;
    }
    return false;
}

// Copies `key` into `out` when present; false, with the cause, when it holds
// another type.
template <typename T>
bool read_key(const json& object, const char* key, T& out, std::string& error) {
    const auto found = object.find(key);
    if (found == object.end() || take(*found, out)) return true;
    const char* wanted = std::is_same_v<T, std::string> ? "a string" : std::is_same_v<T, bool> ? "a boolean"
                                                                                                 : "an integer";
    error = std::string("\"") + key + "\" is " + found->type_name() + ", not " + wanted;
    return false;
}

std::optional<json> parse_file(const std::filesystem::path& path, std::string& error) {
    auto text = read_small_file(path, k_max_config_bytes, error);
    if (!text) return std::nullopt;
    json document = json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) {
        error = "not valid JSON";
        return std::nullopt;
    }
    return document;
}

bool write_document(const std::filesystem::path& path, const json& document, std::string& error) {
    // A config file that is a link (kept in a dotfiles folder, say) stays
    // one: the new content replaces the file it points to.
    std::error_code ignored;
    auto target = path;
    if (std::filesystem::is_symlink(path, ignored)) {
        if (auto resolved = std::filesystem::weakly_canonical(path, ignored); !ignored) target = resolved;
    }
    std::filesystem::create_directories(target.parent_path(), ignored);
    auto staged = StagedFile::create(target, error);
    if (!staged) return false;
    // Text that is not UTF-8 (a host from the environment, say) is written
    // with replacement characters rather than failing every save.
    const std::string text = document.dump(2, ' ', false, json::error_handler_t::replace);
    return staged->write_all(text, error) && staged->replace_target(error);
}

bool file_exists(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

}  // namespace

ConfigStore::ConfigStore(std::filesystem::path config_file, TokenSeal seal)
    : path_(std::move(config_file)), seal_(std::move(seal)) {}

ConfigStore ConfigStore::for_user(const EnvLookup& env) {
    return ConfigStore(config_file_path(env), TokenSeal(token_key_path(env)));
}

bool ConfigStore::load(LauncherConfig& config) const {
    if (path_.empty()) return true;
    std::error_code ignored;
    std::filesystem::create_directories(path_.parent_path(), ignored);
    if (const int removed = StagedFile::remove_leftovers(path_, k_leftover_age); removed > 0) {
        spdlog::info("ConfigStore: removed {} unfinished save(s) of {}", removed, path_.string());
    }
    if (!file_exists(path_)) return true;

    std::string error;
    const auto fail = [&] {
        spdlog::warn("NativeLauncher: failed to load config");
        spdlog::info("ConfigStore: {}: {}", log_safe(path_.string()), log_safe(error));
        return false;
    };
    const auto document = parse_file(path_, error);
    if (!document) return fail();
    if (!document->is_object()) {
        error = std::string("the document is ") + document->type_name() + ", not an object";
        return fail();
    }

    std::string host = config.host;
    if (!read_key(*document, "host", host, error)) return fail();
    config.host = clamp_backend_host(host);
    if (!read_key(*document, "use_https", config.use_https, error)) return fail();
    std::string locale = "en";
    if (!read_key(*document, "locale", locale, error)) return fail();
    config.language = locale == "ru" ? Language::russian : Language::english;

    std::string sealed;
    if (!read_key(*document, "token_enc", sealed, error)) return fail();
    std::string token = seal_.unseal(sealed);
    if (token.empty()) return true;

    // The session is taken whole or not at all, so a damaged profile never
    // leaves a token behind without the user it belongs to.
    LauncherConfig session;
    if (!read_key(*document, "user_email", session.email, error) ||
        !read_key(*document, "user_display_name", session.display_name, error) ||
        !read_key(*document, "user_role", session.role, error) ||
        !read_key(*document, "balance_cents", session.balance_cents, error)) {
        return fail();
    }
    config.token = std::move(token);
    config.email = std::move(session.email);
    config.display_name = std::move(session.display_name);
    config.role = std::move(session.role);
    config.balance_cents = session.balance_cents;
    spdlog::info("NativeLauncher: restored session for {}", log_safe(config.email));
    return true;
}

bool ConfigStore::save(const LauncherConfig& config) const {
    if (path_.empty()) return true;
    json document = json::object();
    document["host"] = config.host;
    document["use_https"] = config.use_https;
    document["locale"] = config.language == Language::russian ? "ru" : "en";
    document["user_email"] = config.email;
    document["user_display_name"] = config.display_name;
    document["user_role"] = config.role;
    document["balance_cents"] = config.balance_cents;
    if (config.signed_in()) document["token_enc"] = seal_.seal(config.token);

    std::string error;
    if (!write_document(path_, document, error)) {
        spdlog::warn("NativeLauncher: failed to save config");
        spdlog::info("ConfigStore: {}", log_safe(error));
        return false;
    }
    return true;
}

void ConfigStore::forget_session(LauncherConfig& config) const {
    config.token.clear();
    config.email.clear();
    config.display_name.clear();
    config.role.clear();
    config.balance_cents = 0;
    if (path_.empty() || !file_exists(path_)) return;

    // A file that does not parse cannot restore the session either.
    std::string error;
    auto document = parse_file(path_, error);
    if (!document || !document->is_object() || !document->contains("token_enc")) return;
    document->erase("token_enc");
    // The sign-out itself has happened; but a token left in the file would
    // sign the user back in at the next start, so that must not go unsaid.
    if (!write_document(path_, *document, error)) {
        spdlog::warn("ConfigStore: could not remove the sign-in token from {}: {}", log_safe(path_.string()),
                     log_safe(error));
    }
}

}  // namespace nb::ui
