// The leak checker of sanitizer builds reports what libx265, D-Bus, SDL and
// Mesa keep until the process ends; none of it comes from our code.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n"
           "leak:libdbus-1.so\n"
           "leak:libSDL2-2.0.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:swrast_dri.so\n"
           "leak:libLLVM-15.so\n";
}
