// The built-in catalogue and demo account that --seed-demo installs.
#pragma once

#include <vector>

#include "tools/backend-sim/account_store.h"
#include "tools/backend-sim/server_catalogue.h"

namespace nb {

// A varied market: high-end to budget GPUs, every status the client knows
// and one it does not, prices from 45 to 349 cents per hour, live figures
// for the machines that report them.
std::vector<ServerRecord> demo_catalogue();

// demo@nubora.test with password "nubora-demo" and $50.00.
Registration demo_registration();
constexpr int64_t k_demo_balance_cents = 5000;

}  // namespace nb
