// Captures the lines of the default logger so tests can assert on them.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nb::test {

struct LogLine {
    spdlog::level::level_enum level;
    std::string text;
};

class CaptureSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::vector<LogLine> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
    }
    void flush_() override {}

private:
    std::vector<LogLine> lines_;
};

// Installs a capturing default logger at trace level for the test's life.
class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<CaptureSink>()) {
        previous_ = spdlog::default_logger();
        auto logger = std::make_shared<spdlog::logger>("capture", sink_);
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() { return sink_->lines(); }
    void clear() { sink_->clear(); }

    // Lines whose text starts with `prefix`.
    size_t count(const std::string& prefix) {
        size_t n = 0;
        for (const auto& line : sink_->lines()) n += line.text.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    std::vector<std::string> matching(const std::string& prefix) {
        std::vector<std::string> out;
        for (const auto& line : sink_->lines()) {
            if (line.text.rfind(prefix, 0) == 0) out.push_back(line.text);
        }
        return out;
    }

private:
    std::shared_ptr<CaptureSink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace nb::test
