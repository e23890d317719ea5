// What staged files do the same way everywhere: their names and the sweep of
// what crashed writers left behind.
#include "ui/staged_file.h"

#include <utility>

namespace nb::ui {

std::string StagedFile::temp_prefix(const std::filesystem::path& target) {
    std::string prefix(1, '.');
    prefix += target.filename().string();
    prefix += '.';
    return prefix;
}

std::filesystem::path StagedFile::folder_of(const std::filesystem::path& target) {
    auto folder = target.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

int StagedFile::remove_leftovers(const std::filesystem::path& target, std::chrono::seconds age) {
    const std::string prefix = temp_prefix(target);
    const auto cutoff = std::filesystem::file_time_type::clock::now() - age;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder_of(target), error);
    int removed = 0;
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
        std::error_code ignored;
        if (!entries->is_regular_file(ignored) || entries->last_write_time(ignored) > cutoff || ignored) continue;
        if (std::filesystem::remove(entries->path(), ignored)) ++removed;
    }
    return removed;
}

StagedFile::StagedFile(int fd, std::filesystem::path temp, std::filesystem::path target)
    : fd_(fd), temp_(std::move(temp)), target_(std::move(target)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temp_(std::move(other.temp_)),
      target_(std::move(other.target_)),
      placed_(std::exchange(other.placed_, true)) {}

}  // namespace nb::ui
