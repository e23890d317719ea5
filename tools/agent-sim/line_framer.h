// Splits a byte stream into newline-terminated lines with a hard bound on
// line length, so no peer can make the reader buffer without limit. Kept
// apart from the socket so the framing can be fed arbitrary bytes directly.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace nb {

class LineFramer {
public:
    explicit LineFramer(size_t max_line_bytes) : max_line_bytes_(max_line_bytes) {}

    // Calls `on_line` for every complete line in order, without its line
    // feed and without one trailing carriage return; empty lines are
    // skipped. Returns false, and drops what it holds, as soon as a line
    // grows past the bound; the stream cannot be trusted after that. Stops
    // early, returning true, when `on_line` returns false.
    bool feed(std::string_view bytes, const std::function<bool(std::string_view)>& on_line);

    size_t pending_bytes() const { return line_.size(); }

private:
    const size_t max_line_bytes_;
    std::string line_;  // the unfinished line
};

}  // namespace nb
