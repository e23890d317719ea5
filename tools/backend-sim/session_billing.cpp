#include "tools/backend-sim/session_billing.h"

#include <algorithm>

namespace nb {

int64_t session_cost_cents(int64_t seconds, int64_t price_per_hour_cents) {
    return seconds * price_per_hour_cents / 3600;
}

int64_t affordable_seconds(int64_t charged_seconds, int64_t price_per_hour_cents, int64_t balance_cents) {
    if (price_per_hour_cents <= 0) return -1;
    // cost(s) <= cost(charged) + balance, with cost rounding down:
    // s * price < (paid + 1) * 3600  <=>  s <= ((paid + 1) * 3600 - 1) / price.
    const int64_t paid = session_cost_cents(charged_seconds, price_per_hour_cents) + std::max<int64_t>(balance_cents, 0);
    return std::max(charged_seconds, ((paid + 1) * 3600 - 1) / price_per_hour_cents);
}

}  // namespace nb
