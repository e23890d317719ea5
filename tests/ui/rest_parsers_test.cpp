// The backend answers as records, without a server: every error text, the
// defaults and clamps, wrong kinds of members and hostile bodies.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/ui/rest_record_compare.h"
#include "ui/http_transport.h"
#include "ui/rest_parsers.h"

namespace nb::ui {
namespace {

struct AnswerCase { const char* name; int status; std::string body; bool ok; std::string error; };

std::string deeply_nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

template <typename Parse>
void expect_outcomes(Parse parse, const std::vector<AnswerCase>& cases) {
    for (const auto& c : cases) {
        const auto result = parse(c.status, c.body);
        EXPECT_EQ(result.ok, c.ok) << c.name;
        EXPECT_EQ(result.error, c.error) << c.name;
    }
}

TEST(RestParsers, LoginOutcomes) {
    expect_outcomes(parse_login_response, {
        {"success", 200, R"({"token":"t"})", true, ""},
        {"empty body", 200, "", false, "No response from server"},
        {"no answer at all", 0, "", false, "No response from server"},
        {"null token", 200, R"({"token":null})", false, "Login failed (HTTP 200)"},
        {"401 with detail", 401, R"({"detail":"Invalid credentials"})", false, "Invalid credentials"},
        {"401 with a token", 401, R"({"token":"t"})", false, "Login failed (HTTP 401)"},
        {"422 validation list", 422, R"({"detail":[{"loc":["body","email"],"msg":"bad email"}]})", false, "bad email"},
        {"empty detail text", 400, R"({"detail":""})", false, "Login failed (HTTP 400)"},
        {"200 that is no JSON", 200, "<html>", false, "Invalid JSON response"},
        {"gateway page", 502, "<html>Bad Gateway</html>", false, "Login failed (HTTP 502)"},
        {"token of the wrong kind", 200, R"({"token":5})", false, "Invalid JSON response"},
        {"body nested past the limit", 200, deeply_nested(100000), false, "Invalid JSON response"},
    });
}

TEST(RestParsers, RegisterOutcomes) {
    expect_outcomes(parse_register_response, {
        {"created", 201, R"({"token":"t"})", true, ""},
        {"ok", 200, R"({"token":"t"})", true, ""},
        {"empty body", 201, "", false, "No response from server"},
        {"conflict", 409, R"({"detail":"Email already registered"})", false, "Email already registered"},
        {"no detail", 400, R"({"error":"x"})", false, "HTTP 400"},
        {"created without token", 201, R"({"user":{}})", false, "HTTP 201"},
        {"created, no JSON", 201, "created", false, "Invalid JSON response"},
        {"error page", 500, "Internal Server Error", false, "HTTP 500"},
    });
}

TEST(RestParsers, AuthTakesTheUser) {
    EXPECT_EQ(parse_login_response(200, R"({"token":"tok","user":{"id":"u1","displayName":"Ann","email":"a@x",)"
                                        R"("role":"merchant","balanceCents":12345}})"),
              (AuthResult{true, "tok", "u1", "Ann", "a@x", "merchant", 12345, ""}));
    // Integer ids become text; role and balance take their defaults.
    EXPECT_EQ(parse_register_response(201, R"({"token":"tok","user":{"id":42,"role":null}})"),
              (AuthResult{true, "tok", "42", "", "", "client", 0, ""}));
    EXPECT_EQ(parse_login_response(200, R"({"token":"tok"})"),
              (AuthResult{true, "tok", "", "", "", "client", 0, ""}));
}

TEST(RestParsers, ProfileOutcomes) {
    expect_outcomes(parse_profile_response, {
        {"empty body", 200, "", false, "No response"},
        {"null before the status", 404, " null\n", false, "No user profile"},
        {"unauthorised", 401, R"({"detail":"Not authenticated"})", false, "Not authenticated"},
        {"error page", 500, "oops", false, "HTTP 500"},
        {"no JSON", 200, "oops", false, "Invalid JSON"},
        {"array body", 200, "[1]", false, "Invalid JSON"},
    });
}

TEST(RestParsers, ProfileReadsTheUserObjectOrTheBody) {
    EXPECT_EQ(parse_profile_response(200, R"({"user":{"displayName":"Ann","email":"a@x","balanceCents":-50}})"),
              (UserProfile{true, -50, "Ann", "a@x", "client", ""}));
    EXPECT_EQ(parse_profile_response(200, R"({"displayName":"Bo","role":"merchant"})"),
              (UserProfile{true, 0, "Bo", "", "merchant", ""}));

    // Past the 64-bit range the balance saturates rather than wraps.
    EXPECT_EQ(parse_profile_response(200, R"({"balanceCents":18446744073709551615})").balance_cents,
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(parse_profile_response(200, R"({"balanceCents":-1e30})").balance_cents,
              std::numeric_limits<int64_t>::min());
}

TEST(RestParsers, ServerListOutcomes) {
    expect_outcomes(parse_server_list_response, {
        {"empty list", 200, R"({"servers":[],"total":0})", true, ""},
        {"no servers member", 200, R"({"total":3})", true, ""},
        {"servers not a list", 200, R"({"servers":{}})", true, ""},
        {"empty body", 200, "", false, "No response"},
        {"bad request", 400, R"({"detail":"bad sort"})", false, "bad sort"},
        {"error page", 503, "busy", false, "HTTP 503"},
        {"no JSON", 200, "busy", false, "Invalid JSON"},
        {"null", 200, "null", false, "Invalid JSON"},
        {"entry of the wrong kind", 200, R"({"servers":[1]})", false, "Invalid JSON"},
        {"member of the wrong kind", 200, R"({"servers":[{"gpuModel":7}]})", false, "Invalid JSON"},
    });
}

TEST(RestParsers, ServerEntryMembersAndDefaults) {
    const ServerListResult list = parse_server_list_response(200, R"({"total":41,"servers":[
        {"id":"s1","hostname":"rig-1","gpuModel":"RTX 4090","gpuVramMb":24576,"cpuModel":"Ryzen 9","ramMb":65536,
         "status":"online","pricePerHourCents":150,"maxResolution":"3840x2160","maxFps":144,
         "supportedCodecs":["h264",5,"hevc",null],"rating":4.75,"totalSessions":12,
         "realtimeStatus":{"fps":143,"latencyMs":9}},
        {},
        {"supportedCodecs":"h264","realtimeStatus":[1,2],"pricePerHourCents":5e9,"maxFps":59.9,"id":7}
    ]})");
    ASSERT_TRUE(list.ok);
    EXPECT_EQ(list.total, 41);
    ServerInfo odd;
    odd.id = "7";
    odd.price_per_hour_cents = std::numeric_limits<int32_t>::max();
    odd.max_fps = 59;
    EXPECT_EQ(list.servers, (std::vector<ServerInfo>{{"s1", "rig-1", "RTX 4090", 24576, "Ryzen 9", 65536, "online", 150,
                                                      "3840x2160", 144, {"h264", "hevc"}, 4.75f, 12, 143, 9},
                                                     {},
                                                     odd}));
}

TEST(RestParsers, CreateSessionOutcomes) {
    const std::string long_text(300, 'x');
    // 199 ASCII bytes and a two-byte character across the 200-byte mark.
    const std::string split_char = std::string(199, 'a') + "\xC3\xA9" + "tail";
    expect_outcomes(parse_create_session_response, {
        {"created", 201, R"({"session_id":"abc"})", true, ""},
        {"ok", 200, R"({})", true, ""},
        {"empty body", 201, "", false, "No response"},
        {"detail of another kind", 409, R"({"detail":{"code":1}})", false, "HTTP 409"},
        {"neither", 500, R"({"error":"x"})", false, "HTTP 500"},
        {"no JSON", 422, "Unprocessable", false, "Invalid response (HTTP 422): Unprocessable"},
        {"long non-JSON body", 500, long_text, false, "Invalid response (HTTP 500): " + long_text.substr(0, 200)},
        {"cut before a split character", 500, split_char, false,
         "Invalid response (HTTP 500): " + std::string(199, 'a')},
    });
    const CreateSessionResult created = parse_create_session_response(201, R"({"session_id":"abc","status":"x"})");
    EXPECT_EQ(std::tie(created.session_id, created.status), std::tuple("abc", "preparing"));
}

TEST(RestParsers, ActiveSessionOutcomes) {
    expect_outcomes(parse_active_session_response, {
        {"empty body", 200, "", false, "No response"},
        {"unauthorised", 401, R"({"detail":"Invalid token"})", false, "Invalid token"},
        {"no JSON", 200, "{", false, "Invalid JSON"},
    });
    EXPECT_EQ(parse_active_session_response(
                  200, R"({"id":"s9","status":"streaming","durationSec":75,"costCents":31,"serverHostname":"rig-1"})"),
              (ActiveSession{true, "s9", "streaming", 75, 31, "rig-1", ""}));

    EXPECT_EQ(parse_active_session_response(200, R"({"durationSec":-5})").duration_sec, 0);
    EXPECT_EQ(parse_active_session_response(200, R"({"durationSec":4294967296})").duration_sec,
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(parse_active_session_response(200, R"({})").status, "");
}

TEST(RestParsers, ConnectInfoDefaultsAndClamps) {
    struct Case { const char* body; uint16_t port; uint16_t control_port; int32_t fps; int32_t bitrate; };
    const Case cases[] = {
        {R"({"host":"10.0.0.5","port":50000})", 50000, 50003, 60, 30000},
        {R"({"host":"h"})", 47998, 48001, 60, 30000},
        {R"({"port":0,"fps":500})", 1, 3, 240, 30000},
        {R"({"port":70000,"fps":0,"bitrate":2000000})", 65535, 65535, 1, 1000000},
        {R"({"port":-4,"control_port":0,"bitrate":-1})", 1, 1, 60, 1},
        {R"({"port":9223372036854775807})", 65535, 65535, 60, 30000},
        {R"({"port":48000,"control_port":48100,"fps":30.9})", 48000, 48100, 30, 30000},
    };
    for (const Case& c : cases) {
        const ConnectInfo info = parse_connect_info_response(200, c.body);
        EXPECT_EQ(std::tie(info.ok, info.port, info.control_port, info.fps, info.bitrate, info.codec),
                  std::tuple(true, c.port, c.control_port, c.fps, c.bitrate, "h264"))
            << c.body;
    }
    EXPECT_EQ(parse_connect_info_response(200, R"({"session_id":"s1","status":"streaming","token":"agent-tok",)"
                                               R"("host":"10.0.0.5","codec":"hevc"})"),
              (ConnectInfo{true, "s1", "streaming", "agent-tok", "10.0.0.5", 47998, 48001, "hevc", 60, 30000, ""}));
}

// A hostile or broken backend may put any kind of value in any member: each
// member the launcher reads, given the wrong kind, fails the whole call with
// the invalid-JSON text instead of leaving a half-read record.
TEST(RestParsers, EveryMemberOfTheWrongKindFailsTheCall) {
    using json = nlohmann::json;
    struct Shape {
        const char* name;
        int status;
        json valid;
        std::vector<json::json_pointer> objects;  // checked beside every leaf member
        std::function<std::pair<bool, std::string>(int, const std::string&)> parse;
        const char* invalid_text;
    };
    const auto outcome = [](auto parse) {
        return [parse](int status, const std::string& body) {
            const auto result = parse(status, body);
            return std::pair{result.ok, result.error};
        };
    };
    const json profile = {{"displayName", "A"}, {"email", "e"}, {"role", "client"}, {"balanceCents", 1}};
    json user = profile;
    user["id"] = "u";
    const json server = {{"id", "s"},          {"hostname", "h"},        {"gpuModel", "g"},   {"gpuVramMb", 1},
                         {"cpuModel", "c"},    {"ramMb", 1},             {"status", "online"}, {"pricePerHourCents", 1},
                         {"maxResolution", "r"}, {"maxFps", 1},           {"rating", 4.5},     {"totalSessions", 1},
                         {"realtimeStatus", {{"fps", 60}, {"latencyMs", 5}}}};
    const std::vector<Shape> shapes = {
        {"login", 200, {{"token", "t"}, {"user", user}}, {"/user"_json_pointer}, outcome(parse_login_response),
         "Invalid JSON response"},
        {"profile", 200, profile, {}, outcome(parse_profile_response), "Invalid JSON"},
        {"server list", 200, {{"servers", {server}}, {"total", 1}}, {}, outcome(parse_server_list_response),
         "Invalid JSON"},
        {"active session", 200,
         {{"id", "s"}, {"status", "streaming"}, {"durationSec", 1}, {"costCents", 1}, {"serverHostname", "h"}}, {},
         outcome(parse_active_session_response), "Invalid JSON"},
        {"connect", 200,
         {{"session_id", "s"}, {"status", "streaming"}, {"token", "t"}, {"host", "h"}, {"port", 47998},
          {"control_port", 48001}, {"codec", "h264"}, {"fps", 60}, {"bitrate", 20000}},
         {}, outcome(parse_connect_info_response), "Invalid JSON"},
    };
    for (const Shape& shape : shapes) {
        ASSERT_TRUE(shape.parse(shape.status, shape.valid.dump()).first) << shape.name;
        std::vector<json::json_pointer> members = shape.objects;
        const json leaves = shape.valid.flatten();
        for (const auto& leaf : leaves.items()) members.emplace_back(leaf.key());
        for (const auto& member : members) {
            // Text or a truth value where a number or an object belongs, an
            // object where text belongs.
            for (const json& wrong : {json("7"), json(true), json::object({{"x", 1}}), json::array({1})}) {
                json body = shape.valid;
                if (body.at(member).type() == wrong.type()) continue;
                body[member] = wrong;
                const auto [ok, error] = shape.parse(shape.status, body.dump());
                EXPECT_FALSE(ok) << shape.name << " " << member.to_string() << " = " << wrong.dump();
                EXPECT_EQ(error, shape.invalid_text) << shape.name << " " << member.to_string();
            }
        }
    }
}

TEST(RestRequests, ServerListQuery) {
    struct Case { const char* gpu; int32_t min_fps; int32_t max_price; const char* sort; const char* path; };
    const Case cases[] = {
        {"", 0, 0, "rating", "/api/servers?page=1&limit=30&sort=rating"},
        {"RTX 4090", 0, 0, "rating", "/api/servers?page=1&limit=30&gpu=RTX%204090&sort=rating"},
        {"", 60, 250, "price", "/api/servers?page=1&limit=30&min_fps=60&max_price=250&sort=price"},
        {"", -1, -5, "price", "/api/servers?page=1&limit=30&sort=price"},
        // Query syntax in the filter stays inside the filter.
        {"A&sort=x#1+", 0, 0, "rating", "/api/servers?page=1&limit=30&gpu=A%26sort%3Dx%231%2B&sort=rating"},
        {"Radeon\xE2\x84\xA2", 0, 0, "rating", "/api/servers?page=1&limit=30&gpu=Radeon%E2%84%A2&sort=rating"},
    };
    for (const Case& c : cases) EXPECT_EQ(server_list_path(c.gpu, c.min_fps, c.max_price, c.sort), c.path) << c.gpu;
}

TEST(RestRequests, BodiesAreCompactWithSortedKeys) {
    EXPECT_EQ(login_body("a@x", "pw"), R"({"email":"a@x","password":"pw"})");
    EXPECT_EQ(register_body("a@x", "pw", "Ann \"A\"", "merchant"),
              R"({"display_name":"Ann \"A\"","email":"a@x","password":"pw","role":"merchant"})");
    EXPECT_EQ(create_session_body("srv-1", "h264"),
              R"({"codec_preference":"h264","duration_hours":1.0,"server_id":"srv-1"})");
    // Text that is not UTF-8 is replaced, not thrown on.
    EXPECT_EQ(login_body("a@x", "p\xFFw"), "{\"email\":\"a@x\",\"password\":\"p\xEF\xBF\xBDw\"}");
}

TEST(RestRequests, BackendAddressSplit) {
    struct Case { const char* backend; bool https; const char* host; uint16_t port; };
    const Case cases[] = {
        {"api.example.com:8443", true, "api.example.com", 8443},
        {"api.example.com", true, "api.example.com", 443},
        {"api.example.com", false, "api.example.com", 80},
        {"localhost:3000", false, "localhost", 3000},
        {"host:65535", false, "host", 65535},
        {"host:abc", true, "host:abc", 443},
        {"host:", false, "host:", 80},
        {"host:0", false, "host:0", 80},
        {"host:65536", false, "host:65536", 80},
        {"host:+80", false, "host:+80", 80},
        {"host:1:2", false, "host:1:2", 80},
        {"host:99999999999999999999", false, "host:99999999999999999999", 80},
    };
    for (const Case& c : cases) {
        const BackendEndpoint endpoint = split_backend(c.backend, c.https);
        EXPECT_EQ(endpoint.host, c.host) << c.backend;
        EXPECT_EQ(endpoint.port, c.port) << c.backend;
    }
}

}  // namespace
}  // namespace nb::ui
