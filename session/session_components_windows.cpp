// The platform components a real session runs with on Windows.
#include "audio/opus_audio_decoder.h"
#include "audio/wasapi_audio_player.h"
#include "input/raw_input_capture.h"
#include "session/launcher.h"
#include "video/platform_video.h"

namespace nb {

SessionComponents SessionComponents::platform_defaults() {
    SessionComponents components;
    components.make_renderer = [] { return make_platform_renderer(); };
    components.make_decoder = [] { return make_platform_decoder(); };
    components.make_audio_decoder = [] { return std::make_unique<OpusAudioDecoder>(); };
    components.make_audio_player = [] { return std::make_unique<WasapiAudioPlayer>(); };
    components.make_input_capture = [] { return std::make_unique<RawInputCapture>(); };
    return components;
}

}  // namespace nb
