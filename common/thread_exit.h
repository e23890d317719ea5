// Runs a cleanup when the calling thread ends, for per-thread objects kept
// behind plain thread_local pointers. Objects with destructors are not put
// in thread_local storage themselves: the Windows toolchain's runtime frees
// a thread's thread_local block before it runs the destructors of what is
// in it.
#pragma once

namespace nb {

using ThreadExitCleanup = void (*)(void* object);

// Cleanups registered on one thread run in reverse order when it ends.
void at_thread_exit(ThreadExitCleanup cleanup, void* object);

}  // namespace nb
