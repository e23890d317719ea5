// Captures the default logger's lines (trace and up) so tests can assert on them.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nb::test {

class CaptureSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.emplace_back(msg.payload.data(), msg.payload.size());
    }
    void flush_() override {}

private:
    std::vector<std::string> lines_;
};

class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<CaptureSink>()), previous_(spdlog::default_logger()) {
        auto logger = std::make_shared<spdlog::logger>("capture", sink_);
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() { return sink_->lines(); }
    // Lines starting with `prefix`.
    std::vector<std::string> matching(const std::string& prefix) {
        std::vector<std::string> out;
        for (auto& line : sink_->lines()) {
            if (line.rfind(prefix, 0) == 0) out.push_back(std::move(line));
        }
        return out;
    }
    size_t count(const std::string& prefix) { return matching(prefix).size(); }

private:
    std::shared_ptr<CaptureSink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace nb::test
