// config.json as a damaged disk, another program or a hand edit leaves it.
// The text "@TOKEN@" in an input stands for a token sealed with the user's
// real key, so inputs reach the session keys too. Loading never throws; a
// file that loads saves, and what was saved loads back unchanged.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/support/fuzz_input.h"
#include "ui/config_store.h"

namespace {

struct Folder {
    std::filesystem::path root;
    std::filesystem::path config;
    nb::ui::TokenSeal seal;
    std::string sealed_token;

    // In memory where there is one: every save ends in an fsync.
    static std::filesystem::path make_root() {
        std::string pattern = (std::filesystem::exists("/dev/shm") ? std::string("/dev/shm") : std::string("/tmp")) +
                              "/nb-fuzz-config.XXXXXX";
        NB_FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        return pattern;
    }

    Folder()
        : root(make_root()),
          config(root / "Nubora" / "config.json"),
          seal(root / "token.key"),
          sealed_token(seal.seal("fuzz-bearer-token")) {
        NB_FUZZ_CHECK(!sealed_token.empty());
        std::filesystem::create_directories(config.parent_path());
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nb::fuzz::quiet_logs();
    static Folder folder;
    std::string text(reinterpret_cast<const char*>(data), size);
    for (size_t at = text.find("@TOKEN@"); at != std::string::npos; at = text.find("@TOKEN@", at)) {
        text.replace(at, 7, folder.sealed_token);
        at += folder.sealed_token.size();
    }
    std::ofstream(folder.config, std::ios::binary | std::ios::trunc) << text;

    const nb::ui::ConfigStore store(folder.config, folder.seal);
    nb::ui::LauncherConfig loaded;
    const bool whole = store.load(loaded);
    NB_FUZZ_CHECK(loaded.host.size() <= nb::ui::k_max_backend_host);
    // A session comes whole or not at all.
    NB_FUZZ_CHECK(loaded.token.empty() || loaded.token == "fuzz-bearer-token");
    if (!whole) return 0;

    NB_FUZZ_CHECK(store.save(loaded));
    nb::ui::LauncherConfig reloaded;
    NB_FUZZ_CHECK(store.load(reloaded));
    NB_FUZZ_CHECK(reloaded == loaded);
    return 0;
}
