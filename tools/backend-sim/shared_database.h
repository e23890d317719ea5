// The database with the lock every store takes around its statements, so a
// rental's balance, session and server rows change together.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "tools/backend-sim/sqlite_database.h"

namespace nb {

// Wall-clock milliseconds since the epoch: stored times must survive a restart.
using WallClock = std::function<int64_t()>;
inline WallClock system_wall_clock() {
    return [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
}

struct SharedDatabase {
    std::mutex mutex;  // guards db and every row in it; taken before any other lock
    SqliteDatabase db;
};

}  // namespace nb
