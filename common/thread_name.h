// Names the calling thread as top, perf and /proc show it, so a profile or
// a per-thread CPU figure says which part of the client spent the time.
#pragma once

#include <pthread.h>

namespace nb {

// At most 15 characters; longer names are left unset by the system.
inline void name_this_thread(const char* name) { pthread_setname_np(pthread_self(), name); }

}  // namespace nb
