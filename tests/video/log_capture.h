// Collects the lines the default logger writes while a test runs.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace nb::test {

class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<Sink>()) {
        spdlog::default_logger()->sinks().push_back(sink_);
        previous_level_ = spdlog::default_logger()->level();
        spdlog::default_logger()->set_level(spdlog::level::debug);
    }
    ~LogCapture() {
        auto& sinks = spdlog::default_logger()->sinks();
        std::erase(sinks, sink_);
        spdlog::default_logger()->set_level(previous_level_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Lines containing `text`.
    size_t count(std::string_view text) const {
        std::lock_guard lock(sink_->lines_mutex);
        size_t n = 0;
        for (const auto& line : sink_->lines) n += line.find(text) != std::string::npos;
        return n;
    }
    bool contains(std::string_view text) const { return count(text) > 0; }

private:
    struct Sink final : spdlog::sinks::base_sink<std::mutex> {
        mutable std::mutex lines_mutex;
        std::vector<std::string> lines;

    protected:
        void sink_it_(const spdlog::details::log_msg& msg) override {
            std::lock_guard lock(lines_mutex);
            lines.emplace_back(msg.payload.data(), msg.payload.size());
        }
        void flush_() override {}
    };

    std::shared_ptr<Sink> sink_;
    spdlog::level::level_enum previous_level_;
};

}  // namespace nb::test
