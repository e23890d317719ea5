// When a decoder asks the remote encoder for a fresh IDR frame: after a run
// of rejected inputs, and when inputs keep producing no picture. Platform
// free, so every decoder back end answers stalls the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace nb {

class IdrRequestPolicy {
public:
    // Inputs without a picture before the first request, and the interval
    // of the requests after it.
    static constexpr uint32_t k_stall_first = 60;
    static constexpr uint32_t k_stall_every = 300;
    static constexpr int64_t k_stall_spacing_us = 2'000'000;
    static constexpr uint32_t k_error_limit = 3;

    enum class Request { none, after_errors, first_stall, repeated_stall };
    struct Decision {
        Request request = Request::none;
        uint32_t count = 0;  // the run of errors or of inputs without a picture
    };

    // A rejected input. Asks for a key frame once k_error_limit failures
    // have come in a row, but only when somebody can send the request:
    // without a callback the count keeps growing. A request starts a new run.
    Decision input_failed(bool can_request);
    // An accepted input, with or without a picture coming out. A picture
    // clears both counts; only a picture ends a stall. Stall requests are
    // spaced at least k_stall_spacing_us apart, callback or not.
    Decision output(bool picture, int64_t now_us);
    void reset();

    uint32_t consecutive_errors() const { return consecutive_errors_; }
    uint32_t frames_without_output() const { return frames_without_output_; }

private:
    uint32_t consecutive_errors_ = 0;
    uint32_t frames_without_output_ = 0;
    int64_t last_request_us_ = 0;
};

// Logs why `decision` asks for a key frame, under the decoder's name, and
// asks through `request` when it is set. Nothing for Request::none.
void carry_out(const IdrRequestPolicy::Decision& decision, std::string_view decoder,
               const std::function<void()>& request);

}  // namespace nb
