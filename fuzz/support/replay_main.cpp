// Runs a fuzz target without libFuzzer, for compilers that lack it and for
// CI: every file named on the command line (folders are read one level
// deep), then -runs=N inputs derived from a fixed seed: mutations of those
// files and fresh random ones. The same input set comes out on every run,
// so a failure seen in CI is a failure seen at a desk.
//
//   nb_fuzz_x [-runs=N] [-seed=S] [-max_len=L] [file or folder ...]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

struct Options {
    uint64_t runs = 0;
    uint64_t seed = 1;
    size_t max_len = 4096;
    std::vector<std::filesystem::path> paths;
};

// Accepts libFuzzer's single-dash spelling as well, so one CTest command
// line serves both kinds of build.
bool read_flag(std::string_view arg, std::string_view name, uint64_t& value) {
    while (!arg.empty() && arg.front() == '-') arg.remove_prefix(1);
    if (arg.substr(0, name.size()) != name || arg.size() <= name.size() || arg[name.size()] != '=') return false;
    const std::string text(arg.substr(name.size() + 1));
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0';
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        uint64_t value = 0;
        if (read_flag(arg, "runs", value)) {
            options.runs = value;
        } else if (read_flag(arg, "seed", value)) {
            options.seed = value;
        } else if (read_flag(arg, "max_len", value) && value > 0) {
            options.max_len = static_cast<size_t>(value);
        } else if (!arg.empty() && arg.front() == '-') {
            std::fprintf(stderr, "replay: unknown option %s\n", argv[i]);
            return false;
        } else {
            options.paths.emplace_back(arg);
        }
    }
    return true;
}

std::vector<uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::vector<uint8_t>> load_inputs(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::vector<uint8_t>> inputs;
    for (const auto& path : paths) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
            std::sort(files.begin(), files.end());  // a fixed order keeps runs reproducible
            for (const auto& file : files) inputs.push_back(read_file(file));
        } else if (std::filesystem::is_regular_file(path, error)) {
            inputs.push_back(read_file(path));
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", path.c_str());
        }
    }
    return inputs;
}

// splitmix64: small, fast and the same everywhere.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(next() % n); }
};

// Lengths spread over every order of magnitude up to the limit, since most
// bugs live in short inputs and the rest in long ones.
size_t random_length(Random& random, size_t max_len) {
    const size_t cap = size_t{1} << random.below(14);
    return random.below((cap < max_len ? cap : max_len) + 1);
}

void mutate(std::vector<uint8_t>& data, Random& random, size_t max_len) {
    const size_t edits = 1 + random.below(4);
    for (size_t e = 0; e < edits; ++e) {
        switch (random.below(6)) {
        case 0:  // flip one bit
            if (!data.empty()) data[random.below(data.size())] ^= static_cast<uint8_t>(1u << random.below(8));
            break;
        case 1:  // set a byte to an edge value or a random one
            if (!data.empty()) {
                static constexpr uint8_t k_edges[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
                data[random.below(data.size())] =
                    random.below(2) == 0 ? k_edges[random.below(5)] : static_cast<uint8_t>(random.next());
            }
            break;
        case 2: {  // insert random bytes
            const size_t at = random.below(data.size() + 1);
            const size_t n = 1 + random.below(16);
            std::vector<uint8_t> extra(n);
            for (auto& b : extra) b = static_cast<uint8_t>(random.next());
            data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(), extra.end());
            break;
        }
        case 3:  // erase a range
            if (!data.empty()) {
                const size_t at = random.below(data.size());
                const size_t n = 1 + random.below(data.size() - at);
                data.erase(data.begin() + static_cast<std::ptrdiff_t>(at),
                           data.begin() + static_cast<std::ptrdiff_t>(at + n));
            }
            break;
        case 4:  // repeat a range
            if (!data.empty()) {
                const size_t at = random.below(data.size());
                const size_t n = 1 + random.below(data.size() - at);
                const std::vector<uint8_t> copy(data.begin() + static_cast<std::ptrdiff_t>(at),
                                                data.begin() + static_cast<std::ptrdiff_t>(at + n));
                data.insert(data.begin() + static_cast<std::ptrdiff_t>(random.below(data.size() + 1)), copy.begin(),
                            copy.end());
            }
            break;
        default:  // cut the end
            data.resize(random.below(data.size() + 1));
            break;
        }
    }
    if (data.size() > max_len) data.resize(max_len);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return 2;
    const auto inputs = load_inputs(options.paths);
    for (const auto& input : inputs) LLVMFuzzerTestOneInput(input.data(), input.size());

    Random random{options.seed};
    std::vector<uint8_t> data;
    for (uint64_t run = 0; run < options.runs; ++run) {
        if (!inputs.empty() && random.below(4) != 0) {
            data = inputs[random.below(inputs.size())];
            mutate(data, random, options.max_len);
        } else {
            data.resize(random_length(random, options.max_len));
            for (auto& b : data) b = static_cast<uint8_t>(random.next());
        }
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("replay: %zu files, %llu generated inputs, no failure\n", inputs.size(),
                static_cast<unsigned long long>(options.runs));
    return 0;
}
