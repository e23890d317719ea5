// Process-wide logging: one "launcher" logger to the console and a rotating file.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace nb {

// Installs the "launcher" logger as spdlog's default: colour console plus
// "launcher.log" (5 MiB, 3 rotations) in the working directory. The level is
// info unless NB_LOG_LEVEL names another (trace, debug, info, warn, error).
// Returns false, with a line on stderr, when the file sink cannot be opened;
// the console sink is installed regardless.
bool setup_logging(const std::string& file_name = "launcher.log");

// Parses a level name as NB_LOG_LEVEL accepts it; unknown names give info.
int log_level_from_text(const std::string& text);

// Rate limit for repeated failures: the first `first` occurrences pass, then
// every `every`-th. Returns the new count when this occurrence should be
// logged, 0 otherwise.
inline uint64_t should_log_throttled(std::atomic<uint64_t>& counter, uint64_t first, uint64_t every) {
    const uint64_t n = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    if (n <= first || (every != 0 && n % every == 0)) return n;
    return 0;
}

}  // namespace nb
