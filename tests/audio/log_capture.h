// Collects the lines logged while it lives, for asserting on log output.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nb::test {

class LogCapture {
public:
    explicit LogCapture(spdlog::level::level_enum level = spdlog::level::trace)
        : sink_(std::make_shared<Sink>()), previous_(spdlog::default_logger()) {
        auto logger = std::make_shared<spdlog::logger>("capture", sink_);
        logger->set_level(level);
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> guard(sink_->lines_lock);
        return sink_->lines;
    }

    // Lines that contain `text`.
    std::vector<std::string> matching(const std::string& text) const {
        std::vector<std::string> out;
        for (const auto& line : lines()) {
            if (line.find(text) != std::string::npos) out.push_back(line);
        }
        return out;
    }

    size_t count(const std::string& text) const { return matching(text).size(); }

private:
    struct Sink : spdlog::sinks::base_sink<std::mutex> {
        std::mutex lines_lock;
        std::vector<std::string> lines;

    protected:
        void sink_it_(const spdlog::details::log_msg& msg) override {
            std::lock_guard<std::mutex> guard(lines_lock);
            lines.emplace_back(msg.payload.data(), msg.payload.size());
        }
        void flush_() override {}
    };

    std::shared_ptr<Sink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace nb::test
