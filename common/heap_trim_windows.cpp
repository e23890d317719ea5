#include "common/heap_trim.h"

#include <malloc.h>

namespace nb {

// Releases the CRT heap's unused regions; the process heap decommits on
// its own.
void return_free_heap_to_system() noexcept { _heapmin(); }

}  // namespace nb
