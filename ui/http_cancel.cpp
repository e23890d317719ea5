// Cancellation of backend requests in flight; the transport says how a
// waiting transfer is woken.
#include "ui/http_cancel.h"

#include <algorithm>

namespace nb::ui {

void HttpCancel::cancel() {
    std::lock_guard lock(lock_);
    cancelled_ = true;
    // Under the lock, so no transfer can be cleaned up while it is woken.
    for (void* transfer : waiting_) wake(transfer);
}

bool HttpCancel::cancelled() const {
    std::lock_guard lock(lock_);
    return cancelled_;
}

bool HttpCancel::attach(void* transfer) {
    std::lock_guard lock(lock_);
    if (cancelled_) return false;
    waiting_.push_back(transfer);
    return true;
}

void HttpCancel::detach(void* transfer) {
    std::lock_guard lock(lock_);
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), transfer), waiting_.end());
}

}  // namespace nb::ui
