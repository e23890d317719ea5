#include "app/url_scheme_registration.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include <spdlog/spdlog.h>

#include "app/url_scheme_registration_text.h"
#include "common/log_text.h"
#include "ui/staged_file.h"

extern char** environ;

namespace nb {

namespace {

namespace fs = std::filesystem;

constexpr const char* k_running_executable = "/proc/self/exe";

std::string errno_message(int code) { return std::error_code(code, std::generic_category()).message(); }

// Reads a file of the size it has now; the reader's buffer is as large as
// its limit, so a generous fixed limit would cost that much at every start.
std::optional<std::string> read_whole_file(const fs::path& path, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot inspect " + path.string() + ": " + errno_message(errno);
        return std::nullopt;
    }
    return ui::read_small_file(path, static_cast<size_t>(info.st_size), error);
}

bool same_file(const fs::path& a, const fs::path& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// Puts `bytes` at `target` through a file written beside it, so readers (a
// running installed copy among them) only ever see the old or the new
// content. A file that already matches is left alone: starting repeatedly
// from one build then does not rewrite and flush the whole program each time.
bool put_file(const fs::path& target, std::string_view bytes, unsigned mode, std::string& error) {
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0 && (info.st_mode & 07777) == mode &&
        static_cast<uint64_t>(info.st_size) == bytes.size()) {
        std::string ignored;
        const auto current = ui::read_small_file(target, bytes.size(), ignored);
        if (current && *current == bytes) return true;
    }
    std::error_code folder_error;
    fs::create_directories(target.parent_path(), folder_error);
    if (folder_error) {
        error = "cannot create " + target.parent_path().string() + ": " + folder_error.message();
        return false;
    }
    // A start killed mid-copy leaves a whole program's worth of temporary
    // file behind; one still being written by another start is younger.
    ui::StagedFile::remove_leftovers(target, std::chrono::minutes(10));
    auto staged = ui::StagedFile::create(target, error);
    return staged && staged->set_permissions(mode, error) && staged->write_all(bytes, error) &&
           staged->replace_target(error);
}

bool refresh_installed_copy(const fs::path& target, std::string& error) {
    const auto program = read_whole_file(k_running_executable, error);
    return program && put_file(target, *program, 0755, error);
}

// The path the desktop entry names: the installed copy when it could be put
// in place, else the running executable.
fs::path choose_target(const fs::path& running, const fs::path& data_home) {
    const fs::path installed = data_home / "Nubora" / "launcher";
    if (same_file(running, installed)) return installed;
    std::string error;
    if (!refresh_installed_copy(installed, error)) {
        spdlog::warn("register_url_scheme: failed to refresh installed copy at {} ({})", log_safe(installed.string()),
                     log_safe(error));
        return running;
    }
    spdlog::info("register_url_scheme: refreshed installed copy at {}", log_safe(installed.string()));
    return installed;
}

// A mimeapps.list that is a link (a dotfiles checkout, say) is edited where
// it points, so the link survives.
fs::path resolve_link(const fs::path& path) {
    std::error_code error;
    if (!fs::is_symlink(path, error)) return path;
    const fs::path resolved = fs::weakly_canonical(path, error);
    return error ? path : resolved;
}

bool set_default_handler(const fs::path& config_home) {
    const fs::path list = resolve_link(config_home / "mimeapps.list");
    std::string text;
    unsigned mode = 0644;
    struct stat info {};
    if (::stat(list.c_str(), &info) == 0) {
        std::string error;
        const auto existing = read_whole_file(list, error);
        // Never replace a list that could not be read: the user's other
        // handlers would be lost with it.
        if (!existing) {
            spdlog::warn("register_url_scheme: cannot read {}; default handler not set ({})",
                         log_safe(list.string()), log_safe(error));
            return false;
        }
        text = *existing;
        mode = info.st_mode & 07777;
    } else if (errno != ENOENT) {
        spdlog::warn("register_url_scheme: cannot inspect {} ({})", log_safe(list.string()), errno_message(errno));
        return false;
    }
    const std::string updated = with_default_handler(text, k_scheme_mime_type, k_scheme_desktop_id);
    std::string error;
    if (!put_file(list, updated, mode, error)) {
        spdlog::warn("register_url_scheme: could not write {} ({})", log_safe(list.string()), log_safe(error));
        return false;
    }
    return true;
}

// Desktops that read the cache see the new entry at once; without the tool
// they rescan the folder themselves, so its absence is no fault.
void refresh_desktop_database(const fs::path& applications) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "update-desktop-database";
    std::string folder = applications.string();
    char* argv[] = {program.data(), folder.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        if (spawned == ENOENT) {
            spdlog::debug("register_url_scheme: update-desktop-database not installed, cache not refreshed");
        } else {
            spdlog::warn("register_url_scheme: cannot start update-desktop-database ({})", errno_message(spawned));
        }
        return;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        spdlog::warn("register_url_scheme: update-desktop-database {} failed (status {})", log_safe(folder), status);
    }
}

}  // namespace

void register_url_scheme(const ui::EnvLookup& env) {
    std::error_code error;
    const fs::path running = fs::read_symlink(k_running_executable, error);
    if (error) {
        spdlog::warn("register_url_scheme: cannot resolve {} ({})", k_running_executable, error.message());
        return;
    }
    const fs::path data_home = ui::xdg_folder(env, "XDG_DATA_HOME", fs::path(".local") / "share");
    const fs::path config_home = ui::xdg_folder(env, "XDG_CONFIG_HOME", ".config");
    if (data_home.empty() || config_home.empty()) {
        spdlog::warn("register_url_scheme: no per-user folders (XDG_DATA_HOME, XDG_CONFIG_HOME and HOME unset)");
        return;
    }

    const fs::path target = choose_target(running, data_home);
    const auto entry = scheme_desktop_entry(target.string());
    if (!entry) {
        spdlog::warn("register_url_scheme: a desktop entry cannot name {}", log_safe(target.string()));
        return;
    }
    const fs::path applications = data_home / "applications";
    const fs::path entry_path = applications / k_scheme_desktop_id;
    std::string write_error;
    if (!put_file(entry_path, *entry, 0644, write_error)) {
        spdlog::warn("register_url_scheme: could not write {} ({})", log_safe(entry_path.string()),
                     log_safe(write_error));
        return;
    }
    if (!set_default_handler(config_home)) return;
    refresh_desktop_database(applications);
    spdlog::info("URL scheme nubora:// registered -> {}", log_safe(target.string()));
}

}  // namespace nb
