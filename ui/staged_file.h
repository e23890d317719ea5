// A file written in full beside its final name and then put in place in one
// step, so readers and crashes only ever see the old or the new content.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace nb::ui {

class StagedFile {
public:
    enum class Placed { done, already_exists, failed };

    // Creates an empty temporary file, mode 0600, in the target's folder.
    // nullopt with `error` set when the folder is not writable.
    static std::optional<StagedFile> create(const std::filesystem::path& target, std::string& error);

    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    // Removes temporary files of `target` that a process killed mid-write
    // left behind, once they are older than `age`, so a save still under
    // way in another process keeps its own. Returns how many went.
    static int remove_leftovers(const std::filesystem::path& target, std::chrono::seconds age);

    // Removes the temporary file unless it was put in place.
    ~StagedFile();

    // Sets the temporary file's permission bits, so the file arrives with
    // them (an executable is never in place without its execute bit).
    bool set_permissions(unsigned mode, std::string& error);

    // Writes all of `bytes` and flushes them to the disk.
    bool write_all(std::string_view bytes, std::string& error);

    // Renames over the target, whatever is there.
    bool replace_target(std::string& error);

    // Puts the file in place only when the target does not exist yet, so of
    // several processes racing to create it exactly one wins.
    Placed place_if_absent(std::string& error);

private:
    StagedFile(int fd, std::filesystem::path temp, std::filesystem::path target);
    void sync_folder() const;
    // Hidden and named after the target, so a leftover from a crash is
    // recognisable next to the file it was meant to become.
    static std::string temp_prefix(const std::filesystem::path& target);
    static std::filesystem::path folder_of(const std::filesystem::path& target);

    int fd_ = -1;
    std::filesystem::path temp_;
    std::filesystem::path target_;
    bool placed_ = false;
};

// Reads a whole regular file of at most `limit` bytes; nullopt with `error`
// set when it cannot be read or is larger.
std::optional<std::string> read_small_file(const std::filesystem::path& path, size_t limit,
                                           std::string& error);

}  // namespace nb::ui
