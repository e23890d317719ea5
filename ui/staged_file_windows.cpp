// Staged files on Windows: an exclusive create beside the target, a flush
// through to the disk, and MoveFileExW with write-through to put it in place.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <random>
#include <string>

#include "ui/staged_file.h"

namespace nb::ui {

namespace {

// Matches the six characters remove_leftovers looks for.
constexpr int k_suffix_length = 6;
constexpr int k_create_attempts = 100;
// A reader holding the target open without delete sharing (another launcher
// loading the file, a virus scanner) blocks the move for a moment only.
constexpr int k_move_attempts = 8;
constexpr DWORD k_move_retry_ms = 10;

bool move_file(const std::filesystem::path& from, const std::filesystem::path& to, DWORD flags) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) || attempt == k_move_attempts) {
            SetLastError(code);
            return false;
        }
        Sleep(k_move_retry_ms * static_cast<DWORD>(attempt));
    }
}

std::string error_text(const std::string& what, const std::filesystem::path& path, DWORD code) {
    char* message = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&message), 0, nullptr);
    std::string text = length > 0 && message != nullptr ? std::string(message, length) : "error " + std::to_string(code);
    if (message != nullptr) LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
    return what + " " + path.string() + ": " + text;
}

std::string random_suffix() {
    static constexpr char k_alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(k_alphabet)) - 2);
    std::string suffix(k_suffix_length, 'x');
    for (char& c : suffix) c = k_alphabet[pick(engine)];
    return suffix;
}

}  // namespace

std::optional<StagedFile> StagedFile::create(const std::filesystem::path& target, std::string& error) {
    for (int attempt = 0; attempt < k_create_attempts; ++attempt) {
        const auto temp = folder_of(target) / (temp_prefix(target) + random_suffix());
        int fd = -1;
        const errno_t result = _wsopen_s(&fd, temp.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
                                         _SH_DENYWR, _S_IREAD | _S_IWRITE);
        if (result == 0) return StagedFile(fd, temp, target);
        if (result != EEXIST) {
            error = error_text("cannot create a temporary file for", target, GetLastError());
            return std::nullopt;
        }
    }
    error = "cannot create a temporary file for " + target.string() + ": every name tried exists";
    return std::nullopt;
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) _close(fd_);
    if (!placed_) _wunlink(temp_.c_str());
}

bool StagedFile::set_permissions(unsigned, std::string&) {
    // The file inherits the folder's access list, which is the user's own.
    return true;
}

bool StagedFile::write_all(std::string_view bytes, std::string& error) {
    while (!bytes.empty()) {
        const unsigned chunk = static_cast<unsigned>(std::min<size_t>(bytes.size(), 1u << 30));
        const int written = _write(fd_, bytes.data(), chunk);
        if (written < 0) {
            error = error_text("cannot write", temp_, GetLastError());
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    // Without the flush a crash after the move could leave the new name
    // pointing at data that never reached the disk.
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)))) {
        error = error_text("cannot flush", temp_, GetLastError());
        return false;
    }
    return true;
}

bool StagedFile::replace_target(std::string& error) {
    // Windows moves no file that is still open without delete sharing.
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
    if (!move_file(temp_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = error_text("cannot rename over", target_, GetLastError());
        return false;
    }
    placed_ = true;
    return true;
}

StagedFile::Placed StagedFile::place_if_absent(std::string& error) {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the target
    // exists, so of several racing processes exactly one wins.
    if (!move_file(temp_, target_, MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return Placed::already_exists;
        error = error_text("cannot create", target_, code);
        return Placed::failed;
    }
    placed_ = true;
    return Placed::done;
}

void StagedFile::sync_folder() const {
    // MOVEFILE_WRITE_THROUGH has already made the new name durable.
}

std::optional<std::string> read_small_file(const std::filesystem::path& path, size_t limit, std::string& error) {
    // A folder cannot even be opened for reading here; say what it is.
    if (const DWORD attributes = GetFileAttributesW(path.c_str());
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = path.string() + " is not a regular file";
        return std::nullopt;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = error_text("cannot open", path, GetLastError());
        return std::nullopt;
    }
    std::optional<std::string> content;
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK) {
        error = path.string() + " is not a regular file";
    } else if (!GetFileSizeEx(file, &size)) {
        error = error_text("cannot inspect", path, GetLastError());
    } else if (static_cast<uint64_t>(size.QuadPart) > limit) {
        error = path.string() + " is larger than " + std::to_string(limit) + " bytes";
    } else {
        // Read one byte past the limit, so a file that grew since the size
        // was taken is still refused instead of read without bound.
        std::string buffer(limit + 1, '\0');
        size_t used = 0;
        for (;;) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(buffer.size() - used, 1u << 30));
            if (want == 0) {
                error = path.string() + " is larger than " + std::to_string(limit) + " bytes";
                break;
            }
            if (!ReadFile(file, buffer.data() + used, want, &got, nullptr)) {
                error = error_text("cannot read", path, GetLastError());
                break;
            }
            if (got == 0) {
                buffer.resize(used);
                content = std::move(buffer);
                break;
            }
            used += got;
        }
    }
    CloseHandle(file);
    return content;
}

}  // namespace nb::ui
