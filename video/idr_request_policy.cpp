#include "video/idr_request_policy.h"

#include <spdlog/spdlog.h>

namespace nb {

IdrRequestPolicy::Decision IdrRequestPolicy::input_failed(bool can_request) {
    ++consecutive_errors_;
    if (consecutive_errors_ < k_error_limit || !can_request) return {Request::none, consecutive_errors_};
    const Decision d{Request::after_errors, consecutive_errors_};
    consecutive_errors_ = 0;
    return d;
}

IdrRequestPolicy::Decision IdrRequestPolicy::output(bool picture, int64_t now_us) {
    if (picture) {
        frames_without_output_ = 0;
        consecutive_errors_ = 0;
        return {};
    }
    ++frames_without_output_;
    const bool first = frames_without_output_ == k_stall_first;
    const bool again = frames_without_output_ > k_stall_first && frames_without_output_ % k_stall_every == 0;
    if ((!first && !again) || now_us - last_request_us_ < k_stall_spacing_us) return {Request::none, frames_without_output_};
    last_request_us_ = now_us;
    return {first ? Request::first_stall : Request::repeated_stall, frames_without_output_};
}

void IdrRequestPolicy::reset() {
    consecutive_errors_ = 0;
    frames_without_output_ = 0;
}

void carry_out(const IdrRequestPolicy::Decision& decision, std::string_view decoder,
               const std::function<void()>& request) {
    switch (decision.request) {
        case IdrRequestPolicy::Request::none:
            return;
        case IdrRequestPolicy::Request::after_errors:
            spdlog::warn("{}: {} consecutive errors, requesting IDR", decoder, decision.count);
            break;
        case IdrRequestPolicy::Request::first_stall:
            spdlog::warn("{}: {} consecutive frames with no output, requesting IDR", decoder, decision.count);
            break;
        case IdrRequestPolicy::Request::repeated_stall:
            spdlog::warn("{}: still no output after {} frames, requesting IDR again", decoder, decision.count);
            break;
    }
    if (request) request();
}

}  // namespace nb
