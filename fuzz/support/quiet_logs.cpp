#include <spdlog/spdlog.h>

#include "fuzz/support/fuzz_input.h"

namespace nb::fuzz {

void quiet_logs() {
    static const bool done = [] {
        spdlog::set_level(spdlog::level::off);
        return true;
    }();
    (void)done;
}

}  // namespace nb::fuzz
