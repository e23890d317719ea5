#include "tools/backend-sim/sqlite_statement.h"

#include <spdlog/spdlog.h>
#include <sqlite3.h>

namespace nb {

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
        spdlog::error("SqliteStatement: cannot prepare '{}': {}", sql, sqlite3_errmsg(db_));
        stmt_ = nullptr;
        failed_ = true;
    }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement& SqliteStatement::bind(int position, int64_t value) {
    if (stmt_) sqlite3_bind_int64(stmt_, position, value);
    return *this;
}

SqliteStatement& SqliteStatement::bind(int position, double value) {
    if (stmt_) sqlite3_bind_double(stmt_, position, value);
    return *this;
}

SqliteStatement& SqliteStatement::bind(int position, std::string_view value) {
    // SQLite copies the text, so the caller's buffer may go away before step().
    if (stmt_) sqlite3_bind_text(stmt_, position, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement& SqliteStatement::bind(int position, std::optional<int64_t> value) {
    if (!stmt_) return *this;
    if (value) return bind(position, *value);
    sqlite3_bind_null(stmt_, position);
    return *this;
}

bool SqliteStatement::step() {
    if (!stmt_ || failed_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) {
        spdlog::error("SqliteStatement: '{}' failed: {}", sqlite3_sql(stmt_), sqlite3_errmsg(db_));
        failed_ = true;
    }
    return false;
}

bool SqliteStatement::run() {
    while (step()) {
    }
    return !failed_;
}

int64_t SqliteStatement::int64(int column) const { return sqlite3_column_int64(stmt_, column); }

double SqliteStatement::real(int column) const { return sqlite3_column_double(stmt_, column); }

std::string SqliteStatement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
}

std::optional<int64_t> SqliteStatement::optional_int64(int column) const {
    if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
    return int64(column);
}

}  // namespace nb
