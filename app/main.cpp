// Process entry of the Nubora client.
// On Windows, SDL.h turns this main into SDL_main: SDL's entry glue hands
// it the command line converted from UTF-16 to UTF-8.
#include <SDL.h>

#include "app/session_loop.h"

int main(int argc, char** argv) { return nb::run_client(argc, argv); }
