// The nubora-backend-sim program and the agents it starts: command line,
// port discovery, clean exits, and a real nubora-agent-sim per session.
#include <signal.h>

#include <fstream>

#include "tests/agent-sim/control_client.h"
#include "tests/backend-sim/api_fixture.h"
#include "tests/support/command_line.h"
#include "tools/backend-sim/backend_options.h"

namespace nb::test {
namespace {

std::filesystem::path program() { return build_dir() / "nubora-backend-sim"; }

TEST(BackendOptions, ValuesArriveInBothSpellings) {
    const auto p = parse_command_line(
        parse_backend_options, {"--port=0", "--db", "x.db", "--seed-demo", "--agent", "/bin/agent", "--agent-arg",
                                "--video-port=0", "--agent-arg=--no-audio", "--fault", "/a=null",
                                "--prepare-delay=250", "--exit-after-idle", "1.5", "--starting-balance", "0"});
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
    const auto defaults = parse_command_line(parse_backend_options, {});
    EXPECT_EQ(defaults.options.bind_address, "127.0.0.1");
    EXPECT_EQ(defaults.options.port, 3000);
}

TEST(BackendOptions, BadCommandLinesNameTheirFault) {
    expect_refused(parse_backend_options, {
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
    });
}

TEST(BackendProgram, HelpDocumentsEveryOptionAndBadOptionsExitTwo) {
    expect_usage(program(),
                 {"--port", "--port-file", "--db", "--seed-demo", "--catalogue", "--tls-cert", "--tls-key", "--agent",
                  "--agent-arg", "--fault", "--admin", "--exit-after-idle"},
                 {"--port", "x"}, "--port expects");
}

// The port of its "ready on" line; 0 when the line never came.
int ready_port(const ChildProcess& sim) {
    const std::string ready = "ready on http://127.0.0.1:";
    if (!sim.wait_for_output(ready)) return 0;
    const std::string out = sim.output();
    return std::stoi(out.substr(out.find(ready) + ready.size()));
}

TEST(BackendProgram, ExitsOnItsOwnWhenIdleAndFailsOnABusyPort) {
    ChildProcess idle(program(), {"--port", "0", "--exit-after-idle", "0.2"}, {}, fresh_temp_dir("backend-idle"));
    EXPECT_EQ(idle.wait_exit(), 0);
    EXPECT_NE(idle.output().find("no request for 0.2 s, stopping"), std::string::npos) << idle.output();

    BackendSimInstance holder;
    ASSERT_TRUE(holder.started());
    const std::string port = std::to_string(holder.port());
    ChildProcess busy(program(), {"--port", port}, {}, fresh_temp_dir("backend-busy"));
    EXPECT_EQ(busy.wait_exit(), 1);
    EXPECT_NE(busy.output().find("cannot listen on 127.0.0.1:" + port), std::string::npos) << busy.output();
}

// Agents on free ports, so tests can run beside other streams.
const std::vector<std::string> k_free_agent_ports = {"--video-port=0", "--audio-port=0", "--input-port=0",
                                                     "--no-audio"};

// Whether the agent's control port takes connections.
bool agent_listens(uint16_t port) {
    try {
        ControlClient probe(port);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

class AgentLaunch : public BackendApiTest {
protected:
    void SetUp() override {
        start(seeded_options([](BackendOptions& o) {
            o.agent_path = (build_dir() / "nubora-agent-sim").string();
            o.agent_control_port = 0;
            o.agent_args = k_free_agent_ports;
        }));
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
    for (const bool right : {true, false}) {
        ControlClient control(control_port);
        control.send(auth_message(right ? info.body["token"].get<std::string>() : "wrong-token", 1, 640, 360,
                                  info.body["fps"], info.body["bitrate"]));
        nlohmann::json reply = control.read();
        EXPECT_EQ(reply["type"], right ? "session_ready" : "error") << reply.dump();
    }

    ASSERT_EQ(del("/api/sessions/" + created.body.value("session_id", ""), token).status, 200);
    EXPECT_FALSE(agent_listens(control_port)) << "stopped before the answer came";
}

TEST_F(AgentLaunch, AnAgentThatCannotStartFailsTheRentalAndFreesTheServer) {
    start(seeded_options([](BackendOptions& o) { o.agent_path = "/bin/false"; }));
    const std::string token = sign_up("nope@example.org");
    const Answer a = post("/api/sessions", {{"server_id", "srv-stratus-3090"}}, token);
    EXPECT_EQ(a.status, 503);
    EXPECT_EQ(a.body["detail"], "The streaming agent could not be started");
    EXPECT_EQ(get("/api/sessions/active", token).body, nullptr);
    EXPECT_EQ(get("/api/servers?gpu=3090").body["servers"][0]["status"], "online");
    // And the agent cannot stream av1, so it is refused before any start.
    EXPECT_EQ(post("/api/sessions", {{"server_id", "srv-aurora-4090"}, {"codec_preference", "av1"}}, token).status, 422);
}

// Either signal stops it cleanly, and with it the agents of open sessions.
TEST(BackendProgram, ReportsItsFreePortAndStopsCleanlyWithItsAgentsOnEitherSignal) {
    for (const int sig : {SIGTERM, SIGINT}) {
        std::vector<std::string> args = {"--port", "0", "--port-file", "port.txt", "--seed-demo",
                                         "--fast-password-hash", "--prepare-delay", "0",
                                         "--agent", (build_dir() / "nubora-agent-sim").string(),
                                         "--agent-control-port", "0"};
        for (const auto& a : k_free_agent_ports) args.insert(args.end(), {"--agent-arg", a});
        const auto dir = fresh_temp_dir("backend-run");
        ChildProcess sim(program(), args, {}, dir);
        const int port = ready_port(sim);
        ASSERT_NE(port, 0) << sim.output();
        int from_file = 0;
        std::ifstream(dir / "port.txt") >> from_file;
        EXPECT_EQ(from_file, port);
        httplib::Client client("127.0.0.1", port);
        EXPECT_EQ(json_of(client.Get("/api/servers"))["total"], 14);
        const auto login = json_of(client.Post(
            "/api/auth/login", R"({"email":"demo@nubora.test","password":"nubora-demo"})", "application/json"));
        const std::string token = login.value("token", "");
        ASSERT_EQ(
            client.Post("/api/sessions", bearer(token), R"({"server_id":"srv-ember-7900"})", "application/json")->status,
            201);
        const auto info = json_of(client.Get("/api/sessions/active/connect", bearer(token)));
        const auto control_port = info["control_port"].get<uint16_t>();
        EXPECT_TRUE(agent_listens(control_port));

        sim.signal(sig);
        EXPECT_EQ(sim.wait_exit(), 0) << sim.output();
        EXPECT_NE(sim.output().find("signal " + std::to_string(sig) + " received"), std::string::npos);
        EXPECT_FALSE(agent_listens(control_port));
    }
}

}  // namespace
}  // namespace nb::test
