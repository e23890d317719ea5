// The agent inside the test and what it writes to its event log.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/client_process.h"
#include "tools/agent-sim/agent.h"

namespace nb::test {

inline const std::string k_token = "agent-test-token";

inline std::vector<nlohmann::json> read_events(const std::filesystem::path& file, const std::string& kind = {}) {
    std::vector<nlohmann::json> out;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        auto event = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(event.is_discarded()) << "not JSON: " << line;
        if (!event.is_discarded() && (kind.empty() || event.value("event", "") == kind)) out.push_back(std::move(event));
    }
    return out;
}

// Polls until `done` holds or the generous limit passes; the result says which.
inline bool wait_until(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

// One agent per test on free loopback ports, its event log in a fresh
// folder, without audio unless `tweak` turns it on.
class AgentTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = fresh_temp_dir("agent-test"); }
    bool start(const std::function<void(AgentOptions&)>& tweak = {}) {
        options_ = AgentOptions{};
        options_.bind_address = "127.0.0.1";
        options_.control_port = options_.video_port = options_.audio_port = options_.input_port = 0;
        options_.token = k_token;
        options_.events_file = (dir_ / "events.jsonl").string();
        options_.audio = false;
        if (tweak) tweak(options_);
        agent_ = std::make_unique<Agent>(options_);
        return agent_->start();
    }
    std::vector<nlohmann::json> events(const std::string& kind = {}) const {
        return read_events(options_.events_file, kind);
    }
    bool frames_reach(uint64_t count) const {
        return wait_until([&] { return agent_->frames_sent() >= count; });
    }

    std::filesystem::path dir_;
    AgentOptions options_;
    std::unique_ptr<Agent> agent_;
};

}  // namespace nb::test
