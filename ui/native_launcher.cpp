#include "ui/native_launcher.h"

#include <spdlog/spdlog.h>

namespace nb::ui {

NativeLauncher::NativeLauncher(ConfigStore store) : store_(std::move(store)) { store_.load(config_); }
NativeLauncher::~NativeLauncher() = default;

void NativeLauncher::set_backend_host(const std::string& host) {
    config_.host = clamp_backend_host(host);
}

void NativeLauncher::set_deep_link(const std::string& uri) { deep_link_ = uri; }

void NativeLauncher::notify_session_ended(const std::string& reason) { ended_reason_ = reason; }

NativeLauncher::Result NativeLauncher::show() {
    spdlog::warn("NativeLauncher: launcher window is not available in this build");
    Result result;
    result.quit = true;
    return result;
}

}  // namespace nb::ui
