#include "common/logging.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace nb {

namespace {
constexpr size_t k_log_file_bytes = 5 * 1024 * 1024;
constexpr size_t k_log_file_count = 3;
constexpr const char* k_log_pattern = "[%Y-%m-%d %H:%M:%S.%e] [%^%l%$] [%t] %v";
}  // namespace

int log_level_from_text(const std::string& text) {
    if (text == "trace") return spdlog::level::trace;
    if (text == "debug") return spdlog::level::debug;
    if (text == "warn") return spdlog::level::warn;
    if (text == "error") return spdlog::level::err;
    return spdlog::level::info;
}

bool setup_logging(const std::string& file_name) {
    std::vector<spdlog::sink_ptr> sinks;
    sinks.push_back(std::make_shared<spdlog::sinks::stdout_color_sink_mt>(spdlog::color_mode::automatic));
    bool file_ok = true;
    try {
        sinks.push_back(std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            file_name, k_log_file_bytes, k_log_file_count, false));
    } catch (const spdlog::spdlog_ex& e) {
        std::fprintf(stderr, "logging: cannot open %s: %s\n", file_name.c_str(), e.what());
        file_ok = false;
    }
    spdlog::drop("launcher");
    auto logger = std::make_shared<spdlog::logger>("launcher", sinks.begin(), sinks.end());
    const char* level_text = std::getenv("NB_LOG_LEVEL");
    const auto level = static_cast<spdlog::level::level_enum>(log_level_from_text(level_text ? level_text : ""));
    logger->set_level(level);
    logger->set_pattern(k_log_pattern);
    // Every line reaches the file at once, so a crash never hides the last events.
    logger->flush_on(spdlog::level::debug);
    spdlog::set_default_logger(logger);
    return file_ok;
}

}  // namespace nb
