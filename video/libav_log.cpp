// Redirection of FFmpeg's log callback into spdlog.
#include "video/libav_log.h"

#include <spdlog/spdlog.h>

#include <cstdarg>
#include <mutex>
#include <string_view>

#include "common/log_text.h"

extern "C" {
#include <libavutil/log.h>
}

namespace nb {

namespace {

void forward(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING) return;
    if (!spdlog::default_logger_raw()->should_log(spdlog::level::debug)) return;
    char line[512];
    int print_prefix = 1;
    av_log_format_line2(object, level, format, args, line, sizeof(line), &print_prefix);
    std::string_view text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    // The decoder quotes stream contents in some of its complaints.
    if (!text.empty()) spdlog::debug("libav: {}", log_safe(text));
}

}  // namespace

void route_libav_logs() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(forward); });
}

}  // namespace nb
