#include "common/thread_exit.h"

#include <pthread.h>

#include <utility>
#include <vector>

namespace nb {

namespace {

using ExitList = std::vector<std::pair<ThreadExitCleanup, void*>>;

// A thread key's destructor gets the list itself, never through the
// thread_local storage the runtime may already have freed. Like a key on
// Linux, it runs when a thread ends, not for the main thread at exit, when
// the C runtime is already gone.
void run_exit_list(void* data) {
    auto* list = static_cast<ExitList*>(data);
    for (auto it = list->rbegin(); it != list->rend(); ++it) it->first(it->second);
    delete list;
}

struct ExitKey {
    pthread_key_t key{};
    bool made = pthread_key_create(&key, run_exit_list) == 0;
};

}  // namespace

void at_thread_exit(ThreadExitCleanup cleanup, void* object) {
    static ExitKey exit_key;
    if (!exit_key.made) return;  // the object then lives as long as the process
    auto* list = static_cast<ExitList*>(pthread_getspecific(exit_key.key));
    if (!list) {
        list = new ExitList;
        pthread_setspecific(exit_key.key, list);
    }
    list->emplace_back(cleanup, object);
}

}  // namespace nb
