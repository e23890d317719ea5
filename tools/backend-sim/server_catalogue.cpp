#include "tools/backend-sim/server_catalogue.h"

#include <spdlog/spdlog.h>

#include <fstream>
#include <set>

namespace nb {
namespace {

constexpr const char* k_columns =
    "id, hostname, gpu_model, gpu_vram_mb, cpu_model, ram_mb, status, price_per_hour_cents, max_resolution, "
    "max_fps, supported_codecs, rating, total_sessions, live_fps, latency_ms";

ServerRecord read_server(const SqliteStatement& row) {
    ServerRecord s;
    s.id = row.text(0);
    s.hostname = row.text(1);
    s.gpu_model = row.text(2);
    s.gpu_vram_mb = static_cast<int>(row.int64(3));
    s.cpu_model = row.text(4);
    s.ram_mb = static_cast<int>(row.int64(5));
    s.status = row.text(6);
    s.price_per_hour_cents = static_cast<int>(row.int64(7));
    s.max_resolution = row.text(8);
    s.max_fps = static_cast<int>(row.int64(9));
    const auto codecs = nlohmann::json::parse(row.text(10), nullptr, false);
    if (codecs.is_array()) {
        for (const auto& c : codecs)
            if (c.is_string()) s.supported_codecs.push_back(c.get<std::string>());
    }
    s.rating = row.real(11);
    s.total_sessions = static_cast<int>(row.int64(12));
    if (auto fps = row.optional_int64(13)) s.live_fps = static_cast<int>(*fps);
    if (auto latency = row.optional_int64(14)) s.latency_ms = static_cast<int>(*latency);
    return s;
}

// Reads `key` into `out` when present; false when it has the wrong type.
template <typename T>
bool take(const nlohmann::json& in, const char* key, T& out, std::string& error) {
    const auto it = in.find(key);
    if (it == in.end()) return true;
    const bool fits = std::is_same_v<T, std::string> ? it->is_string()
                      : std::is_floating_point_v<T> ? it->is_number()
                                                    : it->is_number_integer();
    if (!fits) {
        error = std::string("'") + key + "' has the wrong type";
        return false;
    }
    out = it->get<T>();
    return true;
}

}  // namespace

nlohmann::json ServerRecord::to_json() const {
    nlohmann::json out = {{"id", id},
                          {"hostname", hostname},
                          {"gpuModel", gpu_model},
                          {"gpuVramMb", gpu_vram_mb},
                          {"cpuModel", cpu_model},
                          {"ramMb", ram_mb},
                          {"status", status},
                          {"pricePerHourCents", price_per_hour_cents},
                          {"maxResolution", max_resolution},
                          {"maxFps", max_fps},
                          {"supportedCodecs", supported_codecs},
                          {"rating", rating},
                          {"totalSessions", total_sessions}};
    if (live_fps && latency_ms) out["realtimeStatus"] = {{"fps", *live_fps}, {"latencyMs", *latency_ms}};
    return out;
}

bool ServerRecord::from_json(const nlohmann::json& in, ServerRecord& out, std::string& error) {
    if (!in.is_object()) {
        error = "a server must be a JSON object";
        return false;
    }
    out = ServerRecord{};
    if (!take(in, "id", out.id, error) || !take(in, "hostname", out.hostname, error) ||
        !take(in, "gpuModel", out.gpu_model, error) || !take(in, "gpuVramMb", out.gpu_vram_mb, error) ||
        !take(in, "cpuModel", out.cpu_model, error) || !take(in, "ramMb", out.ram_mb, error) ||
        !take(in, "status", out.status, error) || !take(in, "pricePerHourCents", out.price_per_hour_cents, error) ||
        !take(in, "maxResolution", out.max_resolution, error) || !take(in, "maxFps", out.max_fps, error) ||
        !take(in, "rating", out.rating, error) || !take(in, "totalSessions", out.total_sessions, error)) {
        return false;
    }
    if (out.id.empty()) {
        error = "every server needs a non-empty 'id'";
        return false;
    }
    if (const auto codecs = in.find("supportedCodecs"); codecs != in.end()) {
        if (!codecs->is_array()) {
            error = "'supportedCodecs' must be an array of strings";
            return false;
        }
        for (const auto& c : *codecs) {
            if (!c.is_string()) {
                error = "'supportedCodecs' must be an array of strings";
                return false;
            }
            out.supported_codecs.push_back(c.get<std::string>());
        }
    }
    if (const auto live = in.find("realtimeStatus"); live != in.end() && live->is_object()) {
        int fps = 0, latency = 0;
        if (!take(*live, "fps", fps, error) || !take(*live, "latencyMs", latency, error)) return false;
        out.live_fps = fps;
        out.latency_ms = latency;
    }
    return true;
}

bool ServerCatalogue::replace(const std::vector<ServerRecord>& servers) {
    std::lock_guard lock(shared_.mutex);
    if (!shared_.db.begin()) return false;
    bool ok = shared_.db.exec("DELETE FROM servers");
    int position = 0;
    for (const auto& s : servers) {
        auto insert = shared_.db.prepare(std::string("INSERT INTO servers (position, ") + k_columns +
                                         ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
                                         "?15, ?16)");
        insert->bind(1, int64_t{position++}).bind(2, s.id).bind(3, s.hostname).bind(4, s.gpu_model);
        insert->bind(5, int64_t{s.gpu_vram_mb}).bind(6, s.cpu_model).bind(7, int64_t{s.ram_mb}).bind(8, s.status);
        insert->bind(9, int64_t{s.price_per_hour_cents}).bind(10, s.max_resolution).bind(11, int64_t{s.max_fps});
        insert->bind(12, nlohmann::json(s.supported_codecs).dump()).bind(13, s.rating);
        insert->bind(14, int64_t{s.total_sessions});
        insert->bind(15, s.live_fps ? std::optional<int64_t>(*s.live_fps) : std::nullopt);
        insert->bind(16, s.latency_ms ? std::optional<int64_t>(*s.latency_ms) : std::nullopt);
        ok = ok && insert->run();
    }
    if (!ok) {
        shared_.db.rollback();
        return false;
    }
    return shared_.db.commit();
}

bool ServerCatalogue::empty() {
    std::lock_guard lock(shared_.mutex);
    return !shared_.db.prepare("SELECT 1 FROM servers LIMIT 1")->step();
}

ApiError ServerCatalogue::query(const ServerQuery& q, ServerPage& page) {
    // Filters are bound as parameters, never pasted into the SQL text; a
    // zero filter matches everything.
    const std::string where =
        " FROM servers WHERE (?1 = '' OR instr(lower(gpu_model), lower(?1)) > 0)"
        " AND (?2 = 0 OR max_fps >= ?2) AND (?3 = 0 OR price_per_hour_cents <= ?3)";
    const std::string order = q.sort == "price" ? " ORDER BY price_per_hour_cents ASC, rating DESC, position"
                                                : " ORDER BY rating DESC, total_sessions DESC, position";
    std::lock_guard lock(shared_.mutex);
    auto count = shared_.db.prepare("SELECT count(*)" + where);
    count->bind(1, q.gpu).bind(2, int64_t{q.min_fps}).bind(3, int64_t{q.max_price});
    if (!count->step()) return ApiError::message(500, "Catalogue unavailable");
    page.total = static_cast<int>(count->int64(0));

    auto rows = shared_.db.prepare(std::string("SELECT ") + k_columns + where + order + " LIMIT ?4 OFFSET ?5");
    rows->bind(1, q.gpu).bind(2, int64_t{q.min_fps}).bind(3, int64_t{q.max_price});
    rows->bind(4, int64_t{q.limit}).bind(5, int64_t{q.page - 1} * q.limit);
    page.servers.clear();
    while (rows->step()) page.servers.push_back(read_server(*rows));
    if (rows->failed()) return ApiError::message(500, "Catalogue unavailable");
    return ApiError::none();
}

std::optional<ServerRecord> ServerCatalogue::find_locked(const std::string& id) {
    auto find = shared_.db.prepare(std::string("SELECT ") + k_columns + " FROM servers WHERE id = ?1");
    find->bind(1, id);
    if (!find->step()) return std::nullopt;
    return read_server(*find);
}

bool ServerCatalogue::set_status_locked(const std::string& id, const std::string& status) {
    auto update = shared_.db.prepare("UPDATE servers SET status = ?1 WHERE id = ?2");
    update->bind(1, status).bind(2, id);
    return update->run();
}

bool ServerCatalogue::count_session_locked(const std::string& id) {
    auto update = shared_.db.prepare("UPDATE servers SET total_sessions = total_sessions + 1 WHERE id = ?1");
    update->bind(1, id);
    return update->run();
}

bool load_catalogue_file(const std::string& path, std::vector<ServerRecord>& servers) {
    std::ifstream in(path);
    if (!in) {
        spdlog::error("ServerCatalogue: cannot read {}", path);
        return false;
    }
    const auto doc = nlohmann::json::parse(in, nullptr, false);
    if (!doc.is_array()) {
        spdlog::error("ServerCatalogue: {} must hold a JSON array of servers", path);
        return false;
    }
    std::set<std::string> ids;
    servers.clear();
    for (size_t i = 0; i < doc.size(); ++i) {
        ServerRecord record;
        std::string error;
        if (!ServerRecord::from_json(doc[i], record, error) || !ids.insert(record.id).second) {
            spdlog::error("ServerCatalogue: {} server {}: {}", path, i, error.empty() ? "duplicate id" : error);
            return false;
        }
        servers.push_back(std::move(record));
    }
    return true;
}

}  // namespace nb
