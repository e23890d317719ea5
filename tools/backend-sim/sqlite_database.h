// The simulator's SQLite connection: opens (or creates) the file, sets up
// the schema, and runs transactions. One connection serves every request;
// callers serialise access with the lock they hold for their own state.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tools/backend-sim/sqlite_statement.h"

struct sqlite3;

namespace nb {

class SqliteDatabase {
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // An empty path opens a private in-memory database. False, logged, when
    // the file cannot be opened or is not a database of ours.
    bool open(const std::string& path);

    bool exec(std::string_view sql);
    std::unique_ptr<SqliteStatement> prepare(std::string_view sql);

    // All-or-nothing groups of writes, so a crash never leaves a balance
    // charged without the session that charged it.
    bool begin() { return exec("BEGIN IMMEDIATE"); }
    bool commit() { return exec("COMMIT"); }
    void rollback() { exec("ROLLBACK"); }

private:
    sqlite3* db_ = nullptr;
};

}  // namespace nb
