// The nubora-backend-sim program and the agents it starts: command line,
// port discovery, clean exits, and a real nubora-agent-sim per session.
#include <signal.h>

#include <fstream>

#include "tests/agent-sim/control_client.h"
#include "tests/backend-sim/api_fixture.h"
#include "tests/backend-sim/sim_process.h"
#include "tools/backend-sim/backend_options.h"

namespace nb::test {
namespace {

ParsedBackendOptions parse(std::vector<std::string> args) {
    args.insert(args.begin(), "nubora-backend-sim");
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    return parse_backend_options(static_cast<int>(argv.size()), argv.data());
}

TEST(BackendOptions, ValuesArriveInBothSpellings) {
    const auto p = parse({"--port=0", "--db", "x.db", "--seed-demo", "--agent", "/bin/agent", "--agent-arg",
                          "--video-port=0", "--agent-arg=--no-audio", "--fault", "/a=null", "--prepare-delay=250",
                          "--exit-after-idle", "1.5", "--starting-balance", "0"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.port, 0);
    EXPECT_EQ(p.options.db_path, "x.db");
    EXPECT_TRUE(p.options.seed_demo);
    EXPECT_EQ(p.options.agent_args, (std::vector<std::string>{"--video-port=0", "--no-audio"}));
    EXPECT_EQ(p.options.faults, (std::vector<std::string>{"/a=null"}));
    EXPECT_EQ(p.options.prepare_delay_ms, 250);
    EXPECT_DOUBLE_EQ(p.options.idle_exit_s, 1.5);
    EXPECT_EQ(p.options.starting_balance_cents, 0);
    // Loopback and the launcher's default backend port unless told otherwise.
    const auto defaults = parse({});
    EXPECT_EQ(defaults.options.bind_address, "127.0.0.1");
    EXPECT_EQ(defaults.options.port, 3000);
}

TEST(BackendOptions, BadCommandLinesNameTheirFault) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--port"}, "--port needs a value"},
        {{"--port", "65536"}, "--port expects an integer from 0 to 65535"},
        {{"--port", "80x"}, "--port expects"},
        {{"--seed-demo=yes"}, "--seed-demo takes no value"},
        {{"--db="}, "--db expects a non-empty value"},
        {{"--tls-cert", "c.pem"}, "--tls-cert and --tls-key go together"},
        {{"--exit-after-idle", "0"}, "--exit-after-idle expects a number"},
        {{"--exit-after-idle", "nan"}, "--exit-after-idle"},
        {{"--log-level", "loud"}, "--log-level expects"},
        {{"--agent-arg", "--no-audio"}, "--agent-arg needs --agent"},
        {{"--stream-fps", "241"}, "--stream-fps"},
    };
    for (const auto& [args, part] : cases) {
        const auto p = parse(args);
        EXPECT_FALSE(p.ok) << part;
        EXPECT_NE(p.error.find(part), std::string::npos) << "got: " << p.error;
    }
}

TEST(BackendProgram, HelpDocumentsEveryOptionAndBadOptionsExitTwo) {
    const auto dir = fresh_temp_dir("backend-cli");
    SimProcess help({"--help"}, dir);
    ASSERT_EQ(help.wait_exit(), 0);
    for (const char* option : {"--port", "--port-file", "--db", "--seed-demo", "--catalogue", "--tls-cert",
                               "--tls-key", "--agent", "--agent-arg", "--fault", "--admin", "--exit-after-idle"}) {
        EXPECT_NE(help.output().find(option), std::string::npos) << option;
    }
    SimProcess bad({"--port", "x"}, dir);
    EXPECT_EQ(bad.wait_exit(), 2);
    EXPECT_NE(bad.output().find("--port expects"), std::string::npos);
}

TEST(BackendProgram, ReportsItsFreePortAndStopsCleanlyOnEitherSignal) {
    for (const int sig : {SIGTERM, SIGINT}) {
        const auto dir = fresh_temp_dir("backend-run");
        SimProcess sim({"--port", "0", "--port-file", "port.txt", "--seed-demo", "--fast-password-hash"}, dir);
        std::string port_text;
        ASSERT_TRUE(sim.read_until("ready on http://127.0.0.1:", &port_text)) << sim.output();
        const int port = std::stoi(port_text);
        int from_file = 0;
        std::ifstream(dir / "port.txt") >> from_file;
        EXPECT_EQ(from_file, port);
        httplib::Client client("127.0.0.1", port);
        auto r = client.Get("/api/servers");
        ASSERT_TRUE(r);
        EXPECT_EQ(json_of(r)["total"], 14);
        sim.signal(sig);
        EXPECT_EQ(sim.wait_exit(), 0) << sim.output();
        EXPECT_NE(sim.output().find("signal " + std::to_string(sig) + " received"), std::string::npos);
    }
}

TEST(BackendProgram, ExitsOnItsOwnWhenIdle) {
    SimProcess sim({"--port", "0", "--exit-after-idle", "0.2"}, fresh_temp_dir("backend-idle"));
    EXPECT_EQ(sim.wait_exit(), 0);
    EXPECT_NE(sim.output().find("no request for 0.2 s, stopping"), std::string::npos) << sim.output();
}

TEST(BackendProgram, ABusyPortIsAStartFailure) {
    BackendSimInstance holder;
    ASSERT_TRUE(holder.started());
    SimProcess sim({"--port", std::to_string(holder.port())}, fresh_temp_dir("backend-busy"));
    EXPECT_EQ(sim.wait_exit(), 1);
    EXPECT_NE(sim.output().find("cannot listen on 127.0.0.1:" + std::to_string(holder.port())), std::string::npos);
}

// Agents on free ports, so tests can run beside other streams.
std::vector<std::string> free_agent_ports() {
    return {"--video-port=0", "--audio-port=0", "--input-port=0", "--no-audio"};
}

class AgentLaunch : public BackendApiTest {
protected:
    void SetUp() override {
        BackendOptions o = test_backend_options();
        o.seed_demo = true;
        o.agent_path = (build_dir() / "nubora-agent-sim").string();
        o.agent_control_port = 0;
        o.agent_args = free_agent_ports();
        start(o);
    }
};

TEST_F(AgentLaunch, EachSessionGetsARealAgentThatStopsWithIt) {
    const std::string token = sign_up("agent@example.org");
    const Answer created = post("/api/sessions", {{"server_id", "srv-stratus-3090"}, {"codec_preference", "hevc"}}, token);
    ASSERT_EQ(created.status, 201) << created.body.dump();
    const Answer info = get("/api/sessions/active/connect", token);
    ASSERT_EQ(info.status, 200) << info.body.dump();
    const auto control_port = info.body["control_port"].get<uint16_t>();
    EXPECT_NE(control_port, 0);
    EXPECT_NE(control_port, 48001);  // the agent's own free port, as it reported it

    // The agent accepts exactly the session's token and codec.
    {
        ControlClient control(control_port);
        control.send(auth_message(info.body["token"], 1, 640, 360, info.body["fps"], info.body["bitrate"]));
        const auto reply = control.read();
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)["type"], "session_ready") << reply->dump();
    }
    {
        ControlClient control(control_port);
        control.send(auth_message("wrong-token", 1, 640, 360, 60, 20000));
        const auto reply = control.read();
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)["type"], "error");
    }

    ASSERT_EQ(del("/api/sessions/" + created.body.value("session_id", ""), token).status, 200);
    // Stopped before the answer came: its port is closed.
    EXPECT_THROW(ControlClient{control_port}, std::system_error);
}

TEST_F(AgentLaunch, AnAgentThatCannotStartFailsTheRentalAndFreesTheServer) {
    BackendOptions o = test_backend_options();
    o.seed_demo = true;
    o.agent_path = "/bin/false";
    start(o);
    const std::string token = sign_up("nope@example.org");
    const Answer a = post("/api/sessions", {{"server_id", "srv-stratus-3090"}}, token);
    EXPECT_EQ(a.status, 503);
    EXPECT_EQ(a.body["detail"], "The streaming agent could not be started");
    EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
    EXPECT_EQ(get("/api/servers?gpu=3090").body["servers"][0]["status"], "online");
    // And the agent cannot stream av1, so it is refused before any start.
    EXPECT_EQ(post("/api/sessions", {{"server_id", "srv-aurora-4090"}, {"codec_preference", "av1"}}, token).status, 422);
}

TEST(BackendProgram, ExitingStopsTheAgentsOfOpenSessions) {
    const auto dir = fresh_temp_dir("backend-agent-exit");
    std::vector<std::string> args = {"--port", "0", "--seed-demo", "--fast-password-hash", "--prepare-delay", "0",
                                     "--agent", (build_dir() / "nubora-agent-sim").string(),
                                     "--agent-control-port", "0"};
    for (const auto& a : free_agent_ports()) args.insert(args.end(), {"--agent-arg", a});
    SimProcess sim(args, dir);
    std::string port_text;
    ASSERT_TRUE(sim.read_until("ready on http://127.0.0.1:", &port_text)) << sim.output();
    httplib::Client client("127.0.0.1", std::stoi(port_text));
    const auto login = json_of(client.Post("/api/auth/login", R"({"email":"demo@nubora.test","password":"nubora-demo"})",
                                           "application/json"));
    const std::string token = login.value("token", "");
    ASSERT_EQ(client.Post("/api/sessions", bearer(token), R"({"server_id":"srv-ember-7900"})", "application/json")->status,
              201);
    const auto info = json_of(client.Get("/api/sessions/active/connect", bearer(token)));
    const auto control_port = info["control_port"].get<uint16_t>();
    EXPECT_NO_THROW(ControlClient{control_port});

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait_exit(), 0) << sim.output();
    EXPECT_THROW(ControlClient{control_port}, std::system_error);
}

}  // namespace
}  // namespace nb::test
