// The catalogue of rentable PCs: stored rows, the filtered and sorted pages
// the server browser asks for, and the status changes a rental makes.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "tools/backend-sim/api_error.h"
#include "tools/backend-sim/shared_database.h"

namespace nb {

struct ServerRecord {
    std::string id;
    std::string hostname;
    std::string gpu_model;
    int gpu_vram_mb = 0;
    std::string cpu_model;
    int ram_mb = 0;
    std::string status = "online";  // online, in_session, offline, maintenance
    int price_per_hour_cents = 0;
    std::string max_resolution;
    int max_fps = 60;
    std::vector<std::string> supported_codecs;
    double rating = 0;
    int total_sessions = 0;
    std::optional<int> live_fps;  // both set: the server reports realtimeStatus
    std::optional<int> latency_ms;

    nlohmann::json to_json() const;
    // From the same camelCase object; false with `error` naming the key.
    static bool from_json(const nlohmann::json& in, ServerRecord& out, std::string& error);
};

struct ServerQuery {
    int page = 1;
    int limit = 30;
    std::string gpu;    // case-insensitive part of the GPU model
    int min_fps = 0;    // 0: any
    int max_price = 0;  // cents per hour; 0: any
    std::string sort = "rating";  // or "price"
};

struct ServerPage {
    std::vector<ServerRecord> servers;
    int total = 0;  // matches over all pages
};

class ServerCatalogue {
public:
    explicit ServerCatalogue(SharedDatabase& shared) : shared_(shared) {}

    // Replaces every server; false, logged, on a write failure.
    bool replace(const std::vector<ServerRecord>& servers);
    bool empty();
    ApiError query(const ServerQuery& query, ServerPage& page);

    // With the database lock held by the caller.
    std::optional<ServerRecord> find_locked(const std::string& id);
    bool set_status_locked(const std::string& id, const std::string& status);
    bool count_session_locked(const std::string& id);

private:
    SharedDatabase& shared_;
};

// Loads a catalogue file (a JSON array of server objects).
bool load_catalogue_file(const std::string& path, std::vector<ServerRecord>& servers);

}  // namespace nb
