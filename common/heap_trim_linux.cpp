#include "common/heap_trim.h"

#include <malloc.h>

namespace nb {

// glibc keeps freed arena pages resident until told otherwise.
void return_free_heap_to_system() noexcept { malloc_trim(0); }

}  // namespace nb
