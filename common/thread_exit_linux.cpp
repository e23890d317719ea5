#include "common/thread_exit.h"

#include <utility>
#include <vector>

namespace nb {

namespace {

// glibc runs thread_local destructors while the storage is still there,
// the main thread's at exit() included.
struct ExitList {
    std::vector<std::pair<ThreadExitCleanup, void*>> entries;
    ~ExitList() {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) it->first(it->second);
    }
};

}  // namespace

void at_thread_exit(ThreadExitCleanup cleanup, void* object) {
    thread_local ExitList list;
    list.entries.emplace_back(cleanup, object);
}

}  // namespace nb
