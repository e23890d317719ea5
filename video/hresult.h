// Windows result codes as the logs print them: "(0x887a0005)", never a
// negative decimal.
#pragma once

#include <windows.h>

#include <cstdint>

namespace nb {

inline uint32_t hr_code(HRESULT hr) { return static_cast<uint32_t>(hr); }

}  // namespace nb
