// Fault rules: every error shape a client must cope with, chosen by path
// and method, from the command line or at run time through /_test/faults.
#include "tests/backend-sim/api_fixture.h"
#include "tools/backend-sim/fault_injector.h"

namespace nb::test {
namespace {

class Faults : public BackendApiTest {
protected:
    void SetUp() override { start(seeded_options([](BackendOptions& o) { o.admin = true; })); }
    void add_rule(const std::string& rule, int times = 0) {
        nlohmann::json body = {{"rule", rule}};
        if (times > 0) body["times"] = times;
        const Answer a = post("/_test/faults", body);
        ASSERT_EQ(a.status, 201) << rule << ": " << a.body.dump();
    }
    httplib::Result raw_post(const std::string& path) {
        return sim_->client().Post(path, R"({"server_id":"srv-aurora-4090"})", "application/json");
    }
};

TEST_F(Faults, EachKindAnswersWithItsShape) {
    struct Case {
        std::string kind;
        int status;
        std::string body;  // exact, or empty to skip
    };
    const std::vector<Case> cases = {
        {"validation", 422, R"({"detail":[{"loc":["body"],"msg":"Field required","type":"value_error"}]})"},
        {"validation:Server is busy: try later", 422,
         R"({"detail":[{"loc":["body"],"msg":"Server is busy: try later","type":"value_error"}]})"},
        {"validation-empty", 422, R"({"detail":[]})"},
        {"validation-nomsg", 422, R"({"detail":[{"loc":["body"],"type":"value_error"}]})"},
        {"detail:403:Account suspended", 403, R"({"detail":"Account suspended"})"},
        {"detail:500", 500, R"({"detail":"Simulated failure"})"},
        {"message:503:Down for maintenance", 503, R"({"message":"Down for maintenance"})"},
        {"status:502", 502, ""},
        {"null", 200, "null"},
        {"json:200:{\"host\":\"10.0.0.5\",\"port\":50000}", 200, R"({"host":"10.0.0.5","port":50000})"},
    };
    for (const auto& c : cases) {
        add_rule("POST:/api/sessions=" + c.kind, 1);
        auto r = raw_post("/api/sessions");
        ASSERT_TRUE(r) << c.kind;
        EXPECT_EQ(r->status, c.status) << c.kind;
        EXPECT_EQ(r->body, c.body) << c.kind;
    }
    // Every rule was used up; the real handler answers again.
    EXPECT_EQ(raw_post("/api/sessions")->status, 401);
}

TEST_F(Faults, RulesMatchTheirMethodAndPathOnlyAndBadOnesAreRefused) {
    add_rule("GET:/api/servers=status:500");
    add_rule("/api/auth/*=detail:418:teapot");
    EXPECT_EQ(get("/api/servers").status, 500);
    EXPECT_EQ(get("/api/servers/").status, 404);  // another path, answered for real
    EXPECT_EQ(post("/api/servers", nlohmann::json::object()).status, 404);
    EXPECT_EQ(post("/api/auth/login", nlohmann::json::object()).status, 418);
    EXPECT_EQ(get("/api/auth/me").status, 418);
    EXPECT_EQ(get("/api/sessions/active").status, 401);

    EXPECT_EQ(del("/_test/faults").status, 204);
    EXPECT_EQ(get("/api/servers").status, 200);
    // Bad rules are bad input.
    expect_names(post("/_test/faults", {{"rule", "/x=explode"}}), "body", "rule", "unknown kind");
    EXPECT_EQ(post("/_test/faults", {{"rule", "/x=null"}, {"times", 0}}).status, 422);
    EXPECT_EQ(post("/_test/faults", {{"rule", "/x=null"}, {"times", 1.5}}).status, 422);
    EXPECT_EQ(post("/_test/faults", nlohmann::json::object()).status, 422);
}

// Answers that break the body itself: a text page, half the real body, a
// huge one, or the real one late.
TEST_F(Faults, BodyFaultsKeepTheirShape) {
    const std::string whole = sim_->client().Get("/api/servers")->body;
    add_rule("GET:/api/servers=truncate", 1);
    auto cut = sim_->client().Get("/api/servers");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->status, 200);
    EXPECT_EQ(cut->body, whole.substr(0, whole.size() / 2));

    add_rule("GET:/api/servers=delay:200", 1);
    const Answer late = get("/api/servers");
    EXPECT_EQ(late.status, 200);
    EXPECT_EQ(late.body["total"], 14);

    add_rule("GET:/api/auth/me=text:502", 1);
    auto page = sim_->client().Get("/api/auth/me");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 502);
    EXPECT_GT(page->body.size(), 200u) << "longer than a quote";
    EXPECT_TRUE(nlohmann::json::parse(page->body, nullptr, false).is_discarded());

    add_rule("GET:/api/sessions/active=huge:20000000", 1);
    size_t received = 0;
    char first = 0, last = 0;
    auto r = sim_->client().Get("/api/sessions/active", [&](const char* data, size_t n) {
        if (received == 0) first = data[0];
        received += n;
        last = data[n - 1];
        return true;
    });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(received, 20'000'000u);
    EXPECT_EQ(first, '[');
    EXPECT_EQ(last, ']');
}

TEST_F(Faults, CommandLineRulesApplyFromTheStart) {
    BackendOptions o = test_backend_options();
    o.faults = {"GET:/api/sessions/active=null", "POST:/api/sessions=validation-empty"};
    start(o);
    auto r = sim_->client().Get("/api/sessions/active");
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, "null");
    EXPECT_EQ(post("/api/sessions", nlohmann::json::object()).body, (nlohmann::json{{"detail", nlohmann::json::array()}}));
    // Without --admin there is no run-time control.
    EXPECT_EQ(post("/_test/faults", {{"rule", "/=null"}}).status, 404);
    o.faults = {"/api/sessions=explode"};
    EXPECT_FALSE(BackendSimInstance(o).started());
}

TEST(FaultRules, BadRulesAreRefusedWithAReason) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/api/sessions", "expects [METHOD:]PATH=KIND"},
        {"api/sessions=null", "path must start with '/'"},
        {"PUT:/api/sessions=null", "method must be"},
        {"/api/sessions=explode", "unknown kind"},
        {"/api/sessions=detail", "expects an HTTP status"},
        {"/api/sessions=detail:99", "expects an HTTP status"},
        {"/api/sessions=status:600", "expects an HTTP status"},
        {"/api/sessions=status:500:x", "takes only a status"},
        {"/api/sessions=null:1", "takes no argument"},
        {"/api/sessions=delay:-5", "delay expects milliseconds"},
        {"/api/sessions=huge:lots", "huge expects a byte count"},
        {"/api/sessions=json:200", "json expects a body"},
    };
    for (const auto& [spec, part] : cases) {
        FaultRule rule;
        std::string error;
        EXPECT_FALSE(FaultInjector::parse(spec, rule, error)) << spec;
        EXPECT_NE(error.find(part), std::string::npos) << spec << " gave: " << error;
    }
}

}  // namespace
}  // namespace nb::test
