// Hands the allocator's free memory back to the system after a large burst
// of allocations has been freed, so it stops counting as resident.
#pragma once

namespace nb {

void return_free_heap_to_system() noexcept;

}  // namespace nb
