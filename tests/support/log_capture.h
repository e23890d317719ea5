// Captures what components log, so tests can assert on the exact lines.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nb::test {

class CapturingSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    struct Line {
        spdlog::level::level_enum level;
        std::string text;
    };

    std::vector<Line> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
    }
    void flush_() override {}

private:
    std::vector<Line> lines_;
};

// Installs a capturing default logger for the lifetime of the object.
class LogCapture {
public:
    explicit LogCapture(spdlog::level::level_enum level = spdlog::level::trace)
        : sink_(std::make_shared<CapturingSink>()), previous_(spdlog::default_logger()) {
        auto logger = std::make_shared<spdlog::logger>("test", sink_);
        logger->set_level(level);
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (auto& line : sink_->lines()) out.push_back(line.text);
        return out;
    }

    bool contains(const std::string& text) {
        auto all = texts();
        return std::find(all.begin(), all.end(), text) != all.end();
    }

    // Lines that contain `part`.
    std::vector<std::string> matching(const std::string& part) {
        std::vector<std::string> out;
        for (auto& text : texts()) {
            if (text.find(part) != std::string::npos) out.push_back(std::move(text));
        }
        return out;
    }
    size_t count_containing(const std::string& part) { return matching(part).size(); }
    bool contains_substring(const std::string& part) { return count_containing(part) > 0; }

    size_t count(const std::string& text) {
        auto all = texts();
        return static_cast<size_t>(std::count(all.begin(), all.end(), text));
    }

    bool contains_at(spdlog::level::level_enum level, const std::string& text) {
        for (auto& line : sink_->lines()) {
            if (line.level == level && line.text == text) return true;
        }
        return false;
    }

private:
    std::shared_ptr<CapturingSink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace nb::test
