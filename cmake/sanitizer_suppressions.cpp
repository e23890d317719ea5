// Linked into every executable of a sanitizer build (nb_sanitizer_defaults).
// It silences what the system libraries do on their own: the codecs, D-Bus,
// fontconfig, SDL and Mesa keep allocations until exit, and their worker threads
// synchronise in ways the race detector cannot follow. None of it involves
// memory of ours.

// Libraries stay mapped until exit. Mesa's GL driver is loaded and unloaded
// with the display, and what it leaked would otherwise be reported from an
// unknown module that no suppression can name.
extern "C" int dlclose(void*) { return 0; }
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n"
           "leak:libdbus-1.so\n"
           "leak:libSDL2-2.0.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:swrast_dri.so\n"
           "leak:libLLVM-15.so\n"
           "leak:libfontconfig.so\n";
}

extern "C" const char* __tsan_default_suppressions() {
    return "race:swrast_dri.so\n"
           "mutex:swrast_dri.so\n"
           "called_from_lib:swrast_dri.so\n"
           "deadlock:libLLVM-15.so\n"
           "called_from_lib:libLLVM-15.so\n"
           "race:libx265.so\n"
           "called_from_lib:libx265.so\n"
           "race:libx264.so\n"
           "race:libavcodec.so\n"
           // Mesa registers each compiled shader's unwind tables with libgcc.
           "deadlock:__register_frame_info_bases\n"
           "mutex:__register_frame_info_bases\n";
}
