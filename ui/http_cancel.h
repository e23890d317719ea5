// Lets one thread call off the backend requests another thread is waiting on
// (a poller told to stop must not sit out a 60 s connect).
#pragma once

#include <mutex>
#include <vector>

namespace nb::ui {

class HttpCancel {
public:
    HttpCancel() = default;
    HttpCancel(const HttpCancel&) = delete;
    HttpCancel& operator=(const HttpCancel&) = delete;

    // Ends every request in flight at once and refuses new ones. Idempotent.
    void cancel();
    bool cancelled() const;

    // The transport registers the transfer it waits on for the length of the
    // wait; false when cancel() came first.
    bool attach(void* transfer);
    void detach(void* transfer);

private:
    // The transport's own way to end one waiting transfer; called under lock_.
    static void wake(void* transfer);

    mutable std::mutex lock_;  // guards cancelled_ and waiting_
    bool cancelled_ = false;
    std::vector<void*> waiting_;
};

}  // namespace nb::ui
