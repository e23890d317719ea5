// What the test marketplace backend can be told on its command line, and
// the parser that checks it before anything starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nb {

struct BackendOptions {
    std::string bind_address = "127.0.0.1";
    int port = 3000;            // 0: a free port, reported on stdout and in port_file
    std::string port_file;      // written once listening, holding the port
    std::string db_path;        // SQLite file; empty keeps everything in memory
    bool seed_demo = false;     // demo account and the built-in catalogue
    std::string catalogue_file; // JSON array of servers replacing the catalogue

    std::string tls_cert;       // both set: serve HTTPS
    std::string tls_key;

    int64_t starting_balance_cents = 2000;  // of a newly registered account
    int64_t prepare_delay_ms = 3000;        // "preparing" before "streaming"
    int stream_fps = 60;                    // stream settings handed to the client
    int stream_bitrate_kbps = 20000;
    bool fast_password_hash = false;        // libsodium's minimum cost, for tests

    std::string agent_path;                 // nubora-agent-sim to start per session
    std::string agent_host = "127.0.0.1";   // host the client is told to stream from
    int agent_control_port = 48001;         // 0: a free port the agent picks
    std::vector<std::string> agent_args;    // passed through to every agent
    int64_t agent_start_timeout_ms = 15000;

    std::vector<std::string> faults;        // "[METHOD:]PATH=KIND[:ARG]"
    bool admin = false;                     // the /_test/ endpoints for tests

    double idle_exit_s = 0;                 // 0: run until SIGINT/SIGTERM
    std::string log_level = "info";
};

struct ParsedBackendOptions {
    bool ok = false;
    bool help = false;
    BackendOptions options;
    std::string error;  // for !ok: what was wrong, naming the option
};

ParsedBackendOptions parse_backend_options(int argc, const char* const* argv);

// The --help text: every option with its default.
std::string backend_usage();

}  // namespace nb
