// A real stream on this machine: the test agent and the client as separate
// processes on loopback, the client's window on the test's X server.
#pragma once

#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/client_process.h"
#include "tools/agent-sim/test_scene.h"

namespace nb::test {

// Runs a shell command and returns what it printed on stdout.
inline std::string shell_output(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
    ::pclose(pipe);
    return out;
}

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // RGB rows from the top

    const uint8_t* at(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
};

inline std::optional<RgbImage> read_ppm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    RgbImage image;
    int max_value = 0;
    in >> magic >> image.width >> image.height >> max_value;
    if (!in || magic != "P6" || max_value != 255 || image.width <= 0 || image.height <= 0) return std::nullopt;
    in.get();
    image.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
    in.read(reinterpret_cast<char*>(image.pixels.data()), static_cast<std::streamsize>(image.pixels.size()));
    if (!in) return std::nullopt;
    return image;
}

struct StreamOptions {
    int width = 640;
    int height = 360;
    std::vector<std::string> agent_args;
    std::vector<std::pair<std::string, std::string>> client_env;
};

class StreamSession {
public:
    explicit StreamSession(const std::string& name, StreamOptions options = {})
        : work_dir_(fresh_temp_dir(name)), options_(std::move(options)) {}

    ~StreamSession() {
        client_.reset();
        agent_.reset();
        std::filesystem::remove_all(work_dir_);
    }

    // Starts the agent, then the client; true once the client's event loop runs.
    bool start() {
        std::vector<std::string> agent_args = {"--token", "e2e-token", "--events", events_path().string(),
                                               "--duration", "120"};
        agent_args.insert(agent_args.end(), options_.agent_args.begin(), options_.agent_args.end());
        std::filesystem::create_directories(work_dir_ / "agent");
        agent_ = std::make_unique<ChildProcess>(build_dir() / "nubora-agent-sim", agent_args,
                                                std::vector<std::pair<std::string, std::string>>{},
                                                work_dir_ / "agent");
        if (!agent_->wait_for_output("Agent: ready", std::chrono::seconds(10))) return false;

        std::filesystem::create_directories(work_dir_ / "client");
        // The test's own settings come last, so they win.
        std::vector<std::pair<std::string, std::string>> env = {
            {"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", (work_dir_ / "audio.raw").string()}};
        env.insert(env.end(), options_.client_env.begin(), options_.client_env.end());
        client_ = std::make_unique<ChildProcess>(
            build_dir() / "nubora-launcher",
            std::vector<std::string>{"--host", "127.0.0.1", "--token", "e2e-token", "--width",
                                     std::to_string(options_.width), "--height", std::to_string(options_.height)},
            env, work_dir_ / "client");
        return client_->wait_for_output("Entering SDL event loop");
    }

    ChildProcess& client() { return *client_; }
    ChildProcess& agent() { return *agent_; }
    // What both processes printed, for failure messages.
    std::string outputs() const {
        return "--- client ---\n" + (client_ ? client_->output() : std::string("(not started)")) +
               "\n--- agent ---\n" + (agent_ ? agent_->output() : std::string("(not started)"));
    }
    std::filesystem::path events_path() const { return work_dir_ / "agent-events.jsonl"; }
    std::filesystem::path audio_path() const { return work_dir_ / "audio.raw"; }
    const std::filesystem::path& work_dir() const { return work_dir_; }

    std::string window_id() {
        if (window_id_.empty()) {
            const std::string ids = shell_output("timeout 10 xdotool search --sync --name '^Nubora$' 2>/dev/null");
            window_id_ = ids.substr(0, ids.find('\n'));
        }
        return window_id_;
    }

    std::optional<RgbImage> screenshot(const std::string& name = "shot") {
        const std::string path = (work_dir_ / (name + ".ppm")).string();
        shell_output("import -window " + window_id() + " -depth 8 ppm:" + path + " 2>/dev/null");
        return read_ppm(path);
    }

    void xdotool(const std::string& arguments) { shell_output("xdotool " + arguments + " 2>/dev/null"); }

    void focus() {
        xdotool("windowactivate --sync " + window_id());
        xdotool("windowfocus --sync " + window_id());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    // Presses a hot key until the client logs `confirmation` (an X server
    // under load can lose a synthetic press before the window has focus).
    // With `keep_down` the keys stay down afterwards, as a person's fingers
    // do while the panel appears.
    bool press_until_logged(const std::string& keys, const std::string& confirmation, bool keep_down = false) {
        const size_t before = occurrences(client_->output(), confirmation);
        for (int attempt = 0; attempt < 3; ++attempt) {
            focus();
            xdotool((keep_down ? "keydown --clearmodifiers " : "key --clearmodifiers ") + keys);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            while (std::chrono::steady_clock::now() < deadline) {
                if (occurrences(client_->output(), confirmation) > before) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (keep_down) xdotool("keyup " + keys);
        }
        return false;
    }

    static size_t occurrences(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }

    // The test scene's stamp in a screenshot; the green byte of each RGB
    // pixel stands in for luma.
    static std::optional<SceneStamp> stamp_of(const RgbImage& image) {
        return TestScene::read_stamp(image.pixels.data() + 1, image.width * 3, image.width, image.height, 3);
    }

    // Waits until the window shows a scene frame newer than `after`.
    std::optional<SceneStamp> wait_for_newer_frame(uint32_t after, const std::string& name) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto shot = screenshot(name)) {
                if (auto stamp = stamp_of(*shot); stamp && stamp->frame_number > after) return stamp;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return std::nullopt;
    }

    std::vector<nlohmann::json> agent_events(const std::string& kind) const {
        std::vector<nlohmann::json> out;
        std::ifstream in(events_path());
        std::string line;
        while (std::getline(in, line)) {
            const auto event = nlohmann::json::parse(line, nullptr, false);
            if (!event.is_discarded() && event.value("event", "") == kind) out.push_back(event);
        }
        return out;
    }

    // The number in a log line such as "LibavDecoder: shutdown (decoded 98 frames)".
    static std::optional<long> number_after(const std::string& text, const std::string& prefix) {
        const size_t at = text.find(prefix);
        if (at == std::string::npos) return std::nullopt;
        return std::strtol(text.c_str() + at + prefix.size(), nullptr, 10);
    }

    // Pictures the client decoded and presented, from its shutdown lines.
    struct FrameCounts {
        long decoded = 0;
        long presented = 0;
    };
    std::optional<FrameCounts> frame_counts() const {
        const std::string out = client_->output();
        const auto decoded = number_after(out, "LibavDecoder: shutdown (decoded ");
        const auto presented = number_after(out, "GlRenderer: shutdown (");
        if (!decoded || !presented) return std::nullopt;
        return FrameCounts{*decoded, *presented};
    }

private:
    std::filesystem::path work_dir_;
    StreamOptions options_;
    std::unique_ptr<ChildProcess> agent_;
    std::unique_ptr<ChildProcess> client_;
    std::string window_id_;
};

}  // namespace nb::test
