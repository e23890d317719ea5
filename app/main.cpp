// Process entry of the Nubora client.
#include "app/session_loop.h"

int main(int argc, char** argv) { return nb::run_client(argc, argv); }
