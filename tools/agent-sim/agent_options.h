// Everything the test agent can be told on its command line, with the
// production ports as defaults, and the parser that checks it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/connection_params.h"
#include "net/session_ports.h"

namespace nb {

struct ImpairmentConfig {
    double loss_pct = 0;        // independent loss per datagram
    double burst_pct = 0;       // chance per datagram that a burst starts
    int burst_length = 4;       // datagrams lost per burst
    int reorder_window = 0;     // 0 or 1: no reordering
    double duplicate_pct = 0;
    double corrupt_pct = 0;     // one ciphertext byte flipped
    double forge_pct = 0;       // an extra datagram sealed with a wrong key
    std::vector<uint32_t> withhold_frames;  // frame ids never sent

    bool any() const {
        return loss_pct > 0 || burst_pct > 0 || reorder_window > 1 || duplicate_pct > 0 || corrupt_pct > 0 ||
               forge_pct > 0 || !withhold_frames.empty();
    }
};

struct AgentOptions {
    std::string bind_address = "127.0.0.1";
    uint16_t control_port = 48001;
    uint16_t video_port = SessionPorts{}.video_probe;
    uint16_t audio_port = SessionPorts{}.audio_probe;
    uint16_t input_port = SessionPorts{}.input_remote;

    std::string token;
    bool accept_any_token = false;
    // Keys left out of "session_ready", to see how a client copes.
    bool omit_video_key = false;
    bool omit_audio_key = false;
    bool omit_input_key = false;

    // Repair packets per frame: a fixed count when fec_count >= 0, else
    // ceil(data packets x fec_ratio).
    double fec_ratio = 0.10;
    int fec_count = -1;

    std::string preset = "ultrafast";
    int idr_interval = 0;
    bool intra_refresh = false;
    int encoder_threads = 0;
    bool busy_scene = false;  // noise band so frames use the whole bitrate
    // The size streamed whatever the client asks, as from a PC whose screen
    // has this size; 0 x 0 streams the size asked for.
    int stream_width = 0;
    int stream_height = 0;
    std::string annexb_file;  // stream this instead of the scene
    VideoCodec annexb_codec = VideoCodec::H264;

    bool audio = true;
    double tone_hz = 440.0;
    std::string audio_file;  // raw s16le, 48 kHz, stereo; loops
    int audio_bitrate_kbps = 128;

    ImpairmentConfig impairment;
    bool impair_audio = false;
    uint64_t seed = 1;

    std::string events_file;
    double duration_s = 0;  // 0: until a signal
    std::string log_level = "info";
};

struct ParsedOptions {
    bool ok = false;
    bool help = false;
    AgentOptions options;
    std::string error;  // for !ok: what was wrong, naming the option
};

ParsedOptions parse_agent_options(int argc, const char* const* argv);

// The --help text: every option with its default.
std::string agent_usage();

}  // namespace nb
