// Silences sanitizer reports about the codec, D-Bus, SDL and Mesa libraries'
// own allocations kept until exit and their own thread synchronisation.
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
