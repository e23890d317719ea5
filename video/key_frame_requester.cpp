#include "video/key_frame_requester.h"

#include <spdlog/spdlog.h>

#include <algorithm>

#include "common/clock.h"
#include "common/logging.h"

namespace nb {

KeyFrameRequester::KeyFrameRequester(Hooks hooks) : hooks_(std::move(hooks)) {}

int64_t KeyFrameRequester::now() const { return hooks_.clock_us ? hooks_.clock_us() : now_us(); }

int64_t KeyFrameRequester::spacing_us() const {
    const float rtt = hooks_.rtt_ms ? hooks_.rtt_ms() : 0.0f;
    return std::max(k_min_spacing_us, static_cast<int64_t>(rtt * 1000.0f));
}

bool KeyFrameRequester::admit(uint32_t frame_id, bool key) {
    const auto step = static_cast<int32_t>(frame_id - last_frame_id_);
    if (have_last_ && step != 1 && !key) {
        if (should_log_throttled(gap_log_count_, 5, 100)) {
            if (step > 1) {
                spdlog::warn("KeyFrameRequester: {} frame(s) before frame {} never arrived, asking for a key frame",
                             step - 1, frame_id);
            } else {
                spdlog::warn("KeyFrameRequester: frame {} follows frame {}, asking for a key frame", frame_id,
                             last_frame_id_);
            }
        }
        // Also while a key frame is awaited: the missing frame may be that
        // very key frame. The spacing keeps this to one request per round trip.
        want_request_ = true;
        awaiting_key_ = true;
    } else if (!have_last_ && !key) {
        // The stream's opening key frame went missing: the initial request
        // already asked for one, so only the retry may ask again.
        awaiting_key_ = true;
    }
    have_last_ = true;
    last_frame_id_ = frame_id;
    if (key) {
        awaiting_key_ = false;
        want_request_ = false;
        return true;
    }
    if (awaiting_key_ && ever_sent_ && now() - last_sent_us_ >= k_retry_us) want_request_ = true;
    send_if_due();
    if (awaiting_key_) ++held_back_;
    return !awaiting_key_;
}

void KeyFrameRequester::request() {
    want_request_ = true;
    send_if_due();
}

void KeyFrameRequester::send_if_due() {
    if (!want_request_) return;
    const int64_t t = now();
    if (ever_sent_ && t - last_sent_us_ < spacing_us()) return;
    want_request_ = false;
    ever_sent_ = true;
    last_sent_us_ = t;
    ++requests_sent_;
    if (hooks_.send) hooks_.send();
}

}  // namespace nb
