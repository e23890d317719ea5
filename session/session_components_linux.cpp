// The platform components a real session runs with on Linux.
#include "audio/opus_audio_decoder.h"
#include "audio/sdl_audio_player.h"
#include "input/sdl_input_capture.h"
#include "session/launcher.h"
#include "video/gl_renderer.h"
#include "video/libav_decoder.h"

namespace nb {

SessionComponents SessionComponents::platform_defaults() {
    SessionComponents components;
    components.make_renderer = [] { return std::make_unique<GlRenderer>(); };
    components.make_decoder = [] { return std::make_unique<LibavDecoder>(); };
    components.make_audio_decoder = [] { return std::make_unique<OpusAudioDecoder>(); };
    components.make_audio_player = [] { return std::make_unique<SdlAudioPlayer>(); };
    components.make_input_capture = [] { return std::make_unique<SdlInputCapture>(); };
    return components;
}

}  // namespace nb
