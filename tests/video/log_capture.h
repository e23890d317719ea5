// Collects the lines the default logger writes while a test runs.
#pragma once

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <string_view>

namespace nb::test {

class LogCapture {
public:
    LogCapture() : previous_level_(spdlog::default_logger()->level()) {
        spdlog::default_logger()->sinks().push_back(sink_);
        spdlog::default_logger()->set_level(spdlog::level::debug);
    }
    ~LogCapture() {
        std::erase(spdlog::default_logger()->sinks(), sink_);
        spdlog::default_logger()->set_level(previous_level_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Lines containing `text`.
    size_t count(std::string_view text) const {
        size_t n = 0;
        for (const auto& m : sink_->last_raw())
            n += std::string_view(m.payload.data(), m.payload.size()).find(text) != std::string_view::npos;
        return n;
    }
    bool contains(std::string_view text) const { return count(text) > 0; }

private:
    // Far more lines than any test writes, so none rolls out.
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_ =
        std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(16384);
    spdlog::level::level_enum previous_level_;
};

}  // namespace nb::test
