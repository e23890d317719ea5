// The launcher's saved settings and signed-in session, as the config file
// holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nb::ui {

enum class Language { english, russian };

// The backend host is kept in a 256-byte buffer on every platform.
constexpr size_t k_max_backend_host = 255;
constexpr std::string_view k_default_backend_host = "localhost:3000";
constexpr std::string_view k_default_user_role = "client";

struct LauncherConfig {
    std::string host{k_default_backend_host};  // host or host:port, no scheme
    bool use_https = false;
    Language language = Language::english;
    // The session; an empty token means signed out.
    std::string token;
    std::string email;
    std::string display_name;
    std::string role{k_default_user_role};
    int64_t balance_cents = 0;

    bool signed_in() const { return !token.empty(); }
    bool operator==(const LauncherConfig&) const = default;
};

// At most k_max_backend_host bytes of `text`, cut back to the start of a
// UTF-8 sequence so the stored host stays valid text and can be saved.
std::string clamp_backend_host(std::string_view text);

}  // namespace nb::ui
