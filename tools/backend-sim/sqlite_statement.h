// One prepared SQLite statement: bind parameters by position, step through
// rows, read columns. Failures are logged with the statement's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace nb {

class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool valid() const { return stmt_ != nullptr; }

    // Positions start at 1, as in SQL's ?1.
    SqliteStatement& bind(int position, int64_t value);
    SqliteStatement& bind(int position, double value);
    SqliteStatement& bind(int position, std::string_view value);
    SqliteStatement& bind(int position, std::optional<int64_t> value);

    // True while a row is available; false at the end or on error (see failed()).
    bool step();
    // Runs a statement that returns no rows; false on error.
    bool run();
    bool failed() const { return failed_; }

    int64_t int64(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    std::optional<int64_t> optional_int64(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

}  // namespace nb
