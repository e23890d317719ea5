// Reads a frame trace back: its header and, per line, each column's value
// (empty columns as nullopt), for the checks of the trace's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace nb::test {

struct FrameTraceCsv {
    std::string header;
    std::vector<std::vector<std::optional<int64_t>>> rows;
    size_t malformed = 0;  // lines whose column count or numbers are wrong
};

inline FrameTraceCsv read_frame_trace(const std::filesystem::path& path, size_t columns) {
    FrameTraceCsv csv;
    std::ifstream in(path);
    std::getline(in, csv.header);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::optional<int64_t>> row;
        std::istringstream fields(line + ",");
        bool ok = true;
        for (std::string field; std::getline(fields, field, ',');) {
            if (field.empty()) {
                row.emplace_back();
                continue;
            }
            size_t used = 0;
            try {
                row.emplace_back(std::stoll(field, &used));
            } catch (const std::exception&) {
                ok = false;
            }
            ok = ok && used == field.size();
        }
        if (!ok || row.size() != columns) {
            ++csv.malformed;
            continue;
        }
        csv.rows.push_back(std::move(row));
    }
    return csv;
}

}  // namespace nb::test
