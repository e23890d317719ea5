#include "app/session_loop.h"

namespace nb {

int run_client(int, char**) { return 0; }

}  // namespace nb
