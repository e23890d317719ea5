// Staged files on POSIX: mkostemp, fsync, rename and link.
#include "ui/staged_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>
#include <vector>

namespace nb::ui {

namespace {

std::string errno_text(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.string() + ": " + std::error_code(errno, std::generic_category()).message();
}

}  // namespace

std::optional<StagedFile> StagedFile::create(const std::filesystem::path& target, std::string& error) {
    std::string pattern = (folder_of(target) / (temp_prefix(target) + "XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errno_text("cannot create a temporary file for", target);
        return std::nullopt;
    }
    return StagedFile(fd, std::filesystem::path(name.data()), target);
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!placed_) ::unlink(temp_.c_str());
}

bool StagedFile::set_permissions(unsigned mode, std::string& error) {
    if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) {
        error = errno_text("cannot set the permissions of", temp_);
        return false;
    }
    return true;
}

bool StagedFile::write_all(std::string_view bytes, std::string& error) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            error = errno_text("cannot write", temp_);
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    // Without the flush a crash after the rename could leave the new name
    // pointing at blocks that never reached the disk.
    if (::fsync(fd_) != 0) {
        error = errno_text("cannot flush", temp_);
        return false;
    }
    return true;
}

bool StagedFile::replace_target(std::string& error) {
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        error = errno_text("cannot rename over", target_);
        return false;
    }
    placed_ = true;
    sync_folder();
    return true;
}

StagedFile::Placed StagedFile::place_if_absent(std::string& error) {
    int result = ::link(temp_.c_str(), target_.c_str());
    if (result == 0) {
        ::unlink(temp_.c_str());
    } else if (errno == EPERM || errno == EOPNOTSUPP) {
        // File systems without hard links may still offer an exclusive rename.
        result = ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
    }
    if (result != 0) {
        if (errno == EEXIST) return Placed::already_exists;
        error = errno_text("cannot create", target_);
        return Placed::failed;
    }
    placed_ = true;
    sync_folder();
    return Placed::done;
}

void StagedFile::sync_folder() const {
    // Makes the new name itself durable; a failure only weakens that, the
    // content is already on the disk.
    const int folder = ::open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    ::fsync(folder);
    ::close(folder);
}

std::optional<std::string> read_small_file(const std::filesystem::path& path, size_t limit,
                                           std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno_text("cannot open", path);
        return std::nullopt;
    }
    struct stat info {};
    std::optional<std::string> content;
    if (::fstat(fd, &info) != 0) {
        error = errno_text("cannot inspect", path);
    } else if (!S_ISREG(info.st_mode)) {
        error = path.string() + " is not a regular file";
    } else if (static_cast<uint64_t>(info.st_size) > limit) {
        error = path.string() + " is larger than " + std::to_string(limit) + " bytes";
    } else {
        // Read one byte past the limit, so a file that grew since fstat is
        // still refused instead of read without bound.
        std::string buffer(limit + 1, '\0');
        size_t used = 0;
        while (used < buffer.size()) {
            const ssize_t got = ::read(fd, buffer.data() + used, buffer.size() - used);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                error = errno_text("cannot read", path);
                break;
            }
            if (got == 0) {
                buffer.resize(used);
                content = std::move(buffer);
                break;
            }
            used += static_cast<size_t>(got);
        }
        if (!content && error.empty()) error = path.string() + " is larger than " + std::to_string(limit) + " bytes";
    }
    ::close(fd);
    return content;
}

}  // namespace nb::ui
