#include "tools/agent-sim/line_framer.h"

namespace nb {

bool LineFramer::feed(std::string_view bytes, const std::function<bool(std::string_view)>& on_line) {
    while (!bytes.empty()) {
        const size_t newline = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, newline);
        if (line_.size() + piece.size() > max_line_bytes_) {
            line_.clear();
            return false;
        }
        line_.append(piece);
        if (newline == std::string_view::npos) return true;
        bytes.remove_prefix(newline + 1);
        std::string line = std::move(line_);
        line_.clear();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && !on_line(line)) return true;
    }
    return true;
}

}  // namespace nb
