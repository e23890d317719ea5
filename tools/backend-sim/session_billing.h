// The money arithmetic of a rented session: whole streamed seconds at a
// price per hour, rounded down to the cent, never past what the balance
// covers. Pure functions, so the rules are tested without a server.
#pragma once

#include <cstdint>

namespace nb {

// Cost in cents of `seconds` of streaming at `price_per_hour_cents`.
int64_t session_cost_cents(int64_t seconds, int64_t price_per_hour_cents);

// The most seconds a session may reach when `charged_seconds` are already
// paid for and `balance_cents` remain; -1 when there is no limit (free).
int64_t affordable_seconds(int64_t charged_seconds, int64_t price_per_hour_cents, int64_t balance_cents);

}  // namespace nb
