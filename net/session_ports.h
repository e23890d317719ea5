// The fixed UDP ports of a stream. Production uses the defaults; tests give
// each fixture its own set so suites can run side by side.
#pragma once

#include <cstdint>

namespace nb {

struct SessionPorts {
    uint16_t video_local = 47998;  // bound locally, video datagrams arrive here
    uint16_t audio_local = 47999;  // bound locally, audio datagrams arrive here
    uint16_t video_probe = 48002;  // agent port the video hole-punch probe goes to
    uint16_t audio_probe = 48003;  // agent port the audio hole-punch probe goes to
    uint16_t input_remote = 48000; // agent port the input datagrams go to
};

}  // namespace nb
