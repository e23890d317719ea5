#include "app/shutdown_signal.h"

namespace nb {

namespace {
// Written only by the signal handler; lock-free so the handler stays async-signal-safe.
std::atomic<bool> g_shutdown{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

void note_shutdown_signal() noexcept { g_shutdown.store(true); }

bool shutdown_requested() { return g_shutdown.load(); }

}  // namespace nb
