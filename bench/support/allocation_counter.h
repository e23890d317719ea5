// Every heap allocation of a benchmark program is counted, so benchmarks can
// show that a hot path allocates nothing (or exactly what it must).
#pragma once

#include <cstdint>

namespace nb::bench {

// Allocations through operator new since the program started.
uint64_t allocations();

}  // namespace nb::bench
