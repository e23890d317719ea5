// A private folder under the system's temporary folder, removed with
// everything in it when the object goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace nb::test {

class TempFolder {
public:
    // A fresh random name each try; create_directory refuses one that
    // exists, so no two tests share a folder (and it builds on Windows too).
    explicit TempFolder(const std::string& prefix = "nb-test") {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   (prefix + "-" + std::to_string(random()) + std::to_string(random() % 1000));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("no free temporary folder for " + prefix);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& part) const { return path_ / part; }

private:
    std::filesystem::path path_;
};

inline void write_text_file(const std::filesystem::path& path, std::string_view text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

inline std::string read_text_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The permission bits of a file, for checks such as 0600.
inline unsigned permission_bits(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) return 0xFFFF;
    return static_cast<unsigned>(status.permissions()) & 07777;
}

}  // namespace nb::test
