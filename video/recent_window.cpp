#include "video/recent_window.h"

namespace nb {

void RecentWindow::add(int64_t at_us, int64_t value) {
    if (count_ == samples_.size()) {
        sum_ -= samples_[first_].value;
        first_ = (first_ + 1) % samples_.size();
        --count_;
    }
    samples_[(first_ + count_) % samples_.size()] = {at_us, value};
    ++count_;
    sum_ += value;
}

RecentWindow::Totals RecentWindow::totals(int64_t now_us) {
    while (count_ > 0 && now_us - samples_[first_].at_us > k_span_us) {
        sum_ -= samples_[first_].value;
        first_ = (first_ + 1) % samples_.size();
        --count_;
    }
    return {count_, sum_};
}

}  // namespace nb
