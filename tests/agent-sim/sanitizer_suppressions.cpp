// Sanitizer builds report what the codec libraries do on their own: libx265
// keeps per-encoder filter buffers past x265_encoder_close, and its worker
// threads and libavcodec's synchronise in ways the race detector cannot
// follow. None of it involves memory of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }

extern "C" const char* __tsan_default_suppressions() {
    return "race:libx265.so\n"
           "called_from_lib:libx265.so\n"
           "race:libx264.so\n"
           "race:libavcodec.so\n";
}
