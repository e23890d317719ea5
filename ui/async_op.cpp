// The UI-thread side of a background operation slot.
#include "ui/async_op.h"

namespace nb::ui {

bool AsyncOp::apply_ready() {
    bool expected = true;
    if (!ready.compare_exchange_strong(expected, false)) return false;
    std::function<void()> step;
    {
        std::lock_guard lock(apply_lock_);
        step.swap(apply_step_);
    }
    // Cleared before the step runs, so the step may launch the next request.
    busy.store(false);
    if (step) step();
    return true;
}

void AsyncOp::join() {
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

}  // namespace nb::ui
