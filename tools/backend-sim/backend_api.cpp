#include "tools/backend-sim/backend_api.h"

#include <httplib.h>
#include <spdlog/spdlog.h>

#include <charconv>
#include <optional>

#include "tools/backend-sim/account_store.h"
#include "tools/backend-sim/fault_injector.h"
#include "tools/backend-sim/json_body.h"
#include "tools/backend-sim/server_catalogue.h"
#include "tools/backend-sim/session_manager.h"

namespace nb {
namespace {

void send(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void send_error(httplib::Response& res, const ApiError& error) {
    send(res, error.status, {{"detail", error.detail}});
}

std::string bearer_token(const httplib::Request& req) {
    const std::string header = req.get_header_value("Authorization");
    constexpr std::string_view scheme = "bearer ";
    if (header.size() <= scheme.size()) return {};
    for (size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(header[i])) != scheme[i]) return {};
    }
    return header.substr(scheme.size());
}

// The signed-in account, or a 401 already written to `res`.
std::optional<Account> require_account(AccountStore& accounts, const httplib::Request& req, httplib::Response& res) {
    auto account = accounts.authenticate(bearer_token(req));
    if (!account) send(res, 401, {{"detail", "Not authenticated"}});
    return account;
}

// A whole-number query parameter within [lo, hi], or `fallback` when absent;
// problems are added to `problems` the way body fields report theirs.
int query_int(const httplib::Request& req, const char* name, int fallback, int lo, int hi, nlohmann::json& problems) {
    if (!req.has_param(name)) return fallback;
    const std::string text = req.get_param_value(name);
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi) {
        problems.push_back({{"loc", {"query", name}},
                            {"msg", "Input should be a whole number from " + std::to_string(lo) + " to " +
                                        std::to_string(hi)},
                            {"type", "int_parsing"}});
        return fallback;
    }
    return value;
}

nlohmann::json auth_answer(const Account& account, const std::string& token) {
    return {{"token", token}, {"user", account.to_json()}};
}

}  // namespace

void BackendApi::register_routes(httplib::Server& server) {
    server.Post("/api/auth/register", [this](const httplib::Request& req, httplib::Response& res) {
        JsonBody body(req.body);
        Registration r;
        r.email = body.text("email", true);
        r.password = body.text("password", true);
        r.display_name = body.text("display_name", false);
        r.role = body.text("role", false, "client");
        if (ApiError e = body.error(); !e.ok()) return send_error(res, e);
        Account account;
        std::string token;
        if (ApiError e = accounts_.register_account(r, starting_balance_, account, token); !e.ok()) {
            return send_error(res, e);
        }
        send(res, 201, auth_answer(account, token));
    });

    server.Post("/api/auth/login", [this](const httplib::Request& req, httplib::Response& res) {
        JsonBody body(req.body);
        const std::string email = body.text("email", true);
        const std::string password = body.text("password", true);
        if (ApiError e = body.error(); !e.ok()) return send_error(res, e);
        Account account;
        std::string token;
        if (ApiError e = accounts_.login(email, password, account, token); !e.ok()) return send_error(res, e);
        sessions_.settle_user(account.id);
        if (auto fresh = accounts_.authenticate(token)) account = *fresh;
        send(res, 200, auth_answer(account, token));
    });

    server.Get("/api/auth/me", [this](const httplib::Request& req, httplib::Response& res) {
        auto account = require_account(accounts_, req, res);
        if (!account) return;
        // The balance shown includes what the running session has cost so far.
        sessions_.settle_user(account->id);
        if (auto fresh = accounts_.authenticate(bearer_token(req))) account = fresh;
        send(res, 200, account->to_json());
    });

    server.Get("/api/servers", [this](const httplib::Request& req, httplib::Response& res) {
        nlohmann::json problems = nlohmann::json::array();
        ServerQuery q;
        q.page = query_int(req, "page", 1, 1, 1'000'000, problems);
        q.limit = query_int(req, "limit", 30, 1, 100, problems);
        q.min_fps = query_int(req, "min_fps", 0, 0, 1000, problems);
        q.max_price = query_int(req, "max_price", 0, 0, 100'000'000, problems);
        q.gpu = req.get_param_value("gpu");
        q.sort = req.has_param("sort") ? req.get_param_value("sort") : "rating";
        if (q.gpu.size() > 64) {
            problems.push_back({{"loc", {"query", "gpu"}}, {"msg", "At most 64 characters"}, {"type", "string_too_long"}});
        }
        if (q.sort != "rating" && q.sort != "price") {
            problems.push_back({{"loc", {"query", "sort"}}, {"msg", "Input should be 'rating' or 'price'"},
                                {"type", "enum"}});
        }
        if (!problems.empty()) return send_error(res, {422, problems});
        ServerPage page;
        if (ApiError e = catalogue_.query(q, page); !e.ok()) return send_error(res, e);
        nlohmann::json servers = nlohmann::json::array();
        for (const auto& s : page.servers) servers.push_back(s.to_json());
        send(res, 200, {{"servers", servers}, {"total", page.total}, {"page", q.page}, {"limit", q.limit}});
    });

    server.Post("/api/sessions", [this](const httplib::Request& req, httplib::Response& res) {
        auto account = require_account(accounts_, req, res);
        if (!account) return;
        JsonBody body(req.body);
        SessionRequest r;
        r.server_id = body.text("server_id", true);
        r.codec = body.text("codec_preference", false, "h264");
        r.duration_hours = body.number("duration_hours", false, 1.0);
        if (ApiError e = body.error(); !e.ok()) return send_error(res, e);
        if (!(r.duration_hours > 0 && r.duration_hours <= 24)) {
            return send_error(res, ApiError::invalid("body", "duration_hours", "Rentals last more than 0 and up to 24 hours"));
        }
        nlohmann::json session;
        if (ApiError e = sessions_.create(*account, r, session); !e.ok()) return send_error(res, e);
        send(res, 201, session);
    });

    server.Get("/api/sessions/active", [this](const httplib::Request& req, httplib::Response& res) {
        auto account = require_account(accounts_, req, res);
        if (!account) return;
        nlohmann::json session;
        if (ApiError e = sessions_.active(account->id, session); !e.ok()) return send_error(res, e);
        send(res, 200, session);
    });

    server.Get("/api/sessions/active/connect", [this](const httplib::Request& req, httplib::Response& res) {
        auto account = require_account(accounts_, req, res);
        if (!account) return;
        nlohmann::json info;
        if (ApiError e = sessions_.connect_info(account->id, info); !e.ok()) return send_error(res, e);
        send(res, 200, info);
    });

    server.Delete(R"(/api/sessions/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        auto account = require_account(accounts_, req, res);
        if (!account) return;
        nlohmann::json session;
        if (ApiError e = sessions_.end(account->id, req.matches[1].str(), session); !e.ok()) {
            return send_error(res, e);
        }
        send(res, 200, session);
    });
}

void BackendApi::register_admin_routes(httplib::Server& server, FaultInjector& faults) {
    // {"rule": "[METHOD:]PATH=KIND[:ARG]", "times": N} adds a rule, used up
    // after N matching requests when "times" is given.
    server.Post("/_test/faults", [&faults](const httplib::Request& req, httplib::Response& res) {
        JsonBody body(req.body);
        const std::string spec = body.text("rule", true);
        const double times = body.number("times", false, -1);
        if (ApiError e = body.error(); !e.ok()) return send_error(res, e);
        FaultRule rule;
        std::string error;
        if (!FaultInjector::parse(spec, rule, error)) {
            return send_error(res, ApiError::invalid("body", "rule", error));
        }
        if (times != -1 && !(times >= 1 && times <= 1e6 && times == static_cast<int>(times))) {
            return send_error(res, ApiError::invalid("body", "times", "Input should be a whole number from 1"));
        }
        rule.remaining = static_cast<int>(times);
        faults.add(std::move(rule));
        send(res, 201, {{"rule", spec}});
    });
    server.Delete("/_test/faults", [&faults](const httplib::Request&, httplib::Response& res) {
        faults.clear();
        res.status = 204;
    });
}

}  // namespace nb
