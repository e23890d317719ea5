#include "tools/agent-sim/event_log.h"

#include <spdlog/spdlog.h>

#include <cerrno>
#include <cstring>

#include "common/clock.h"

namespace nb {

EventLog::~EventLog() { close(); }

bool EventLog::open(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        spdlog::error("EventLog: cannot open {}: {}", path, std::strerror(errno));
        open_ = false;
        return false;
    }
    open_ = true;
    return true;
}

void EventLog::write(std::string_view event, nlohmann::json fields) {
    if (!is_open()) return;
    if (!fields.is_object()) fields = nlohmann::json::object();
    fields["event"] = event;
    fields["t_us"] = now_us();
    // Text from clients (tokens, addresses) may hold invalid UTF-8; replace
    // it rather than throwing from a network handler.
    const std::string line = fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) return;
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

void EventLog::close() {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    open_ = false;
}

}  // namespace nb
