#include "tools/backend-sim/sqlite_database.h"

#include <spdlog/spdlog.h>
#include <sqlite3.h>

namespace nb {
namespace {

// Bumped whenever a table changes shape; a file of another version is refused
// rather than misread.
constexpr int k_schema_version = 1;

constexpr const char* k_schema = R"sql(
CREATE TABLE IF NOT EXISTS users (
    id TEXT PRIMARY KEY,
    email TEXT NOT NULL UNIQUE COLLATE NOCASE,
    display_name TEXT NOT NULL,
    role TEXT NOT NULL,
    password_hash TEXT NOT NULL,
    balance_cents INTEGER NOT NULL,
    created_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tokens (
    token TEXT PRIMARY KEY,
    user_id TEXT NOT NULL REFERENCES users(id),
    created_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS servers (
    id TEXT PRIMARY KEY,
    position INTEGER NOT NULL,
    hostname TEXT NOT NULL,
    gpu_model TEXT NOT NULL,
    gpu_vram_mb INTEGER NOT NULL,
    cpu_model TEXT NOT NULL,
    ram_mb INTEGER NOT NULL,
    status TEXT NOT NULL,
    price_per_hour_cents INTEGER NOT NULL,
    max_resolution TEXT NOT NULL,
    max_fps INTEGER NOT NULL,
    supported_codecs TEXT NOT NULL,
    rating REAL NOT NULL,
    total_sessions INTEGER NOT NULL,
    live_fps INTEGER,
    latency_ms INTEGER);
CREATE TABLE IF NOT EXISTS sessions (
    id TEXT PRIMARY KEY,
    user_id TEXT NOT NULL REFERENCES users(id),
    server_id TEXT NOT NULL,
    server_hostname TEXT NOT NULL,
    price_per_hour_cents INTEGER NOT NULL,
    codec TEXT NOT NULL,
    duration_hours REAL NOT NULL,
    created_ms INTEGER NOT NULL,
    streaming_ms INTEGER NOT NULL,
    ended_ms INTEGER,
    end_reason TEXT NOT NULL DEFAULT '',
    charged_sec INTEGER NOT NULL DEFAULT 0,
    cost_cents INTEGER NOT NULL DEFAULT 0,
    agent_token TEXT NOT NULL,
    control_port INTEGER NOT NULL,
    fps INTEGER NOT NULL,
    bitrate INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS sessions_open ON sessions(user_id) WHERE ended_ms IS NULL;
)sql";

}  // namespace

SqliteDatabase::~SqliteDatabase() { sqlite3_close(db_); }

bool SqliteDatabase::open(const std::string& path) {
    const std::string name = path.empty() ? ":memory:" : path;
    if (sqlite3_open_v2(name.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        spdlog::error("SqliteDatabase: cannot open {}: {}", name, db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    // A second simulator on the same file waits for the lock instead of failing at once.
    sqlite3_busy_timeout(db_, 5000);
    auto version = prepare("PRAGMA user_version");
    if (!version->step()) {
        spdlog::error("SqliteDatabase: {} is not a database", name);
        return false;
    }
    const int64_t found = version->int64(0);
    version.reset();
    if (found != 0 && found != k_schema_version) {
        spdlog::error("SqliteDatabase: {} has schema version {}, this simulator writes {}", name, found,
                      k_schema_version);
        return false;
    }
    if (!exec("PRAGMA foreign_keys = ON") || !exec(k_schema) ||
        !exec("PRAGMA user_version = " + std::to_string(k_schema_version))) {
        return false;
    }
    spdlog::info("SqliteDatabase: using {}", path.empty() ? "memory (nothing is kept)" : path);
    return true;
}

bool SqliteDatabase::exec(std::string_view sql) {
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        spdlog::error("SqliteDatabase: '{}' failed: {}", text.substr(0, 60), message ? message : "unknown error");
        sqlite3_free(message);
        return false;
    }
    return true;
}

std::unique_ptr<SqliteStatement> SqliteDatabase::prepare(std::string_view sql) {
    return std::make_unique<SqliteStatement>(db_, sql);
}

}  // namespace nb
