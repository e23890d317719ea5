// The --events log: one compact JSON object per line for everything the
// agent observes and sends, so tests can assert on what happened on the wire.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace nb {

class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Creates or truncates the file. False, with the cause logged, when it
    // cannot be opened. Without a file every write is a no-op.
    bool open(const std::string& path);
    bool is_open() const { return open_.load(std::memory_order_relaxed); }

    // Adds "event" and "t_us" (now_us) to `fields` and appends the line.
    // Each line is flushed, so a reader sees it while the agent still runs.
    // Safe from any thread.
    void write(std::string_view event, nlohmann::json fields = nlohmann::json::object());

    void close();

private:
    std::mutex mutex_;  // guards file_ and the order of lines
    std::FILE* file_ = nullptr;
    std::atomic<bool> open_{false};  // lets writers skip formatting without a file
};

}  // namespace nb
