// Sanitizer builds report what libraries do on their own: the leak checker
// sees what libx265, D-Bus, SDL and Mesa keep until the process ends; the
// race detector sees the worker threads of Mesa's rasteriser, LLVM's shader
// compiler, libx265 and libavcodec, whose own synchronisation it cannot
// follow. None of it involves memory of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n"
           "leak:libdbus-1.so\n"
           "leak:libSDL2-2.0.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:swrast_dri.so\n"
           "leak:libLLVM-15.so\n";
}

extern "C" const char* __tsan_default_suppressions() {
    return "race:swrast_dri.so\n"
           "mutex:swrast_dri.so\n"
           "called_from_lib:swrast_dri.so\n"
           "deadlock:libLLVM-15.so\n"
           "called_from_lib:libLLVM-15.so\n"
           "race:libx265.so\n"
           "called_from_lib:libx265.so\n"
           "race:libavcodec.so\n"
           // Mesa registers each compiled shader's unwind tables with libgcc.
           "deadlock:__register_frame_info_bases\n"
           "mutex:__register_frame_info_bases\n";
}
