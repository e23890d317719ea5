// One background operation slot of the launcher window: a worker thread runs
// one blocking backend call and the UI thread applies its result later.
#pragma once

#include <spdlog/spdlog.h>

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "common/log_text.h"

namespace nb::ui {

class AsyncOp {
public:
    AsyncOp() = default;
    // Waits for the request in flight: its work holds copies only, but the
    // thread must not outlive the slot that will receive its result.
    ~AsyncOp() { join(); }
    AsyncOp(const AsyncOp&) = delete;
    AsyncOp& operator=(const AsyncOp&) = delete;

    // Runs `work` on a new worker thread and queues `apply(result)` for the UI
    // thread. Dropped (returns false) while the slot is busy.
    template <typename Work, typename Apply>
    bool launch(Work work, Apply apply) {
        if (busy.load()) return false;
        join();
        busy.store(true);
        ready.store(false);
        worker_ = std::thread([this, work = std::move(work), apply = std::move(apply)]() mutable {
            auto result = run_guarded(work);
            {
                std::lock_guard lock(apply_lock_);
                apply_step_ = [apply = std::move(apply), result = std::move(result)]() mutable {
                    apply(std::move(result));
                };
            }
            ready.store(true);
        });
        return true;
    }

    // UI thread, once per frame: runs the waiting apply step, if any. `busy`
    // stays set until here, so a launch can never replace a result that has
    // not been applied yet.
    bool apply_ready();

    // Blocks until the worker has finished; the result stays queued.
    void join();

    bool is_busy() const { return busy.load(); }

    // True from launch until the result has been applied. Read by the screens
    // every frame while a worker may be finishing, hence atomic.
    std::atomic<bool> busy{false};
    // Set by the worker when a result is waiting.
    std::atomic<bool> ready{false};

private:
    // An exception escaping the work would end the process; the slot turns it
    // into an empty result whose error says what happened.
    template <typename Work>
    static auto run_guarded(Work& work) -> decltype(work()) {
        using Result = decltype(work());
        try {
            return work();
        } catch (const std::exception& e) {
            spdlog::error("AsyncOp: worker exception: {}", log_safe(e.what()));
            return failed_result<Result>(e.what());
        } catch (...) {
            spdlog::error("AsyncOp: worker exception: unknown");
            return failed_result<Result>("Unknown error");
        }
    }

    template <typename Result>
    static Result failed_result(const char* what) {
        Result result{};
        if constexpr (requires { result.error = what; }) result.error = what;
        return result;
    }

    // Guards apply_step_, which the worker fills and the UI thread takes.
    std::mutex apply_lock_;
    std::function<void()> apply_step_;
    std::thread worker_;
};

}  // namespace nb::ui
