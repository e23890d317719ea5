// Registration, sign-in and the profile, as the launcher uses them.
#include "tests/backend-sim/api_fixture.h"

namespace nb::test {
namespace {

using Accounts = BackendApiTest;

TEST_F(Accounts, RegistrationSignsInAndFillsDefaults) {
    const Answer reg = post("/api/auth/register", {{"display_name", "Ann"}, {"email", "ann@example.org"},
                                                   {"password", "secret-pw"}, {"role", "merchant"}});
    ASSERT_EQ(reg.status, 201);
    const std::string token = reg.body.value("token", "");
    EXPECT_FALSE(token.empty());
    const auto& user = reg.body["user"];
    EXPECT_TRUE(user["id"].is_string());
    EXPECT_EQ(user["displayName"], "Ann");
    EXPECT_EQ(user["email"], "ann@example.org");
    EXPECT_EQ(user["role"], "merchant");
    EXPECT_EQ(user["balanceCents"], 2000);
    EXPECT_EQ(get("/api/auth/me", token).body, user);

    const Answer bare = post("/api/auth/register", {{"email", "bob.smith@example.org"}, {"password", "secret-pw"},
                                                    {"display_name", ""}});
    ASSERT_EQ(bare.status, 201);
    EXPECT_EQ(bare.body["user"]["displayName"], "bob.smith");
    EXPECT_EQ(bare.body["user"]["role"], "client");
}

TEST_F(Accounts, LoginIssuesAFreshTokenAndEveryTokenStaysValid) {
    const std::string first = sign_up("cy@example.org");
    // E-mail addresses compare without regard to case, as users type them.
    const Answer login = post("/api/auth/login", {{"email", "CY@example.org"}, {"password", "secret-pw"}});
    ASSERT_EQ(login.status, 200);
    const std::string second = login.body.value("token", "");
    EXPECT_NE(second, first);
    EXPECT_EQ(login.body["user"]["email"], "cy@example.org");
    EXPECT_EQ(get("/api/auth/me", first).status, 200);
    EXPECT_EQ(get("/api/auth/me", second).status, 200);
    const Answer again = post("/api/auth/register", {{"email", "Cy@Example.org"}, {"password", "other-pw"}});
    EXPECT_EQ(again.status, 409);
    EXPECT_EQ(again.body["detail"], "Email already registered");
    // The seeded demo account signs in with its documented password.
    const Answer demo = post("/api/auth/login", {{"email", "demo@nubora.test"}, {"password", "nubora-demo"}});
    ASSERT_EQ(demo.status, 200);
    EXPECT_EQ(demo.body["user"]["balanceCents"], 5000);
    EXPECT_EQ(demo.body["user"]["displayName"], "Demo Player");
}

TEST_F(Accounts, WrongPasswordAndUnknownEmailGetTheSameAnswer) {
    sign_up("dee@example.org");
    const Answer wrong = post("/api/auth/login", {{"email", "dee@example.org"}, {"password", "not-it"}});
    const Answer unknown = post("/api/auth/login", {{"email", "nobody@example.org"}, {"password", "secret-pw"}});
    EXPECT_EQ(wrong.status, 401);
    EXPECT_EQ(wrong.body, (nlohmann::json{{"detail", "Invalid email or password"}}));
    EXPECT_EQ(unknown.status, wrong.status);
    EXPECT_EQ(unknown.body, wrong.body);
}

TEST_F(Accounts, BadBodiesAreRefusedWithTheirFault) {
    const std::vector<std::pair<std::string, std::string>> fields = {
        {R"({"password":"secret-pw"})", "email"},
        {R"({"email":"no-at-sign","password":"secret-pw"})", "email"},
        {R"({"email":"@example.org","password":"secret-pw"})", "email"},
        {R"({"email":"f@example.org","password":"short"})", "password"},
        {R"({"email":"f@example.org","password":12345678})", "password"},
        {R"({"email":"f@example.org","password":"secret-pw","role":"admin"})", "role"},
        {R"({"email":"f@example.org","password":"secret-pw","display_name":")" + std::string(65, 'x') + R"("})",
         "display_name"},
    };
    for (const auto& [body, field] : fields) {
        const Answer a = post_text("/api/auth/register", body);
        expect_names(a, "body", field, body);
        EXPECT_TRUE(a.body["detail"][0]["msg"].is_string()) << body;
    }
    // Bodies that are not objects get that one complaint alone.
    for (const std::string body : {"", "not json", "null", "[]", "\"text\"", "{\"email\":"}) {
        const Answer a = post_text("/api/auth/login", body);
        EXPECT_EQ(a.status, 422) << body;
        ASSERT_EQ(a.body["detail"].size(), 1u) << body;
        EXPECT_EQ(a.body["detail"][0]["type"], "json_invalid") << body;
    }
    const Answer huge = post_text("/api/auth/register", std::string(1 << 20, 'x'));
    EXPECT_EQ(huge.status, 413);
    EXPECT_EQ(huge.body["detail"], "Request body too large");
    // The server carries on.
    EXPECT_EQ(post("/api/auth/login", {{"email", "a@b.c"}, {"password", "x"}}).status, 401);
}

TEST_F(Accounts, ProfileNeedsAValidBearerToken) {
    const std::string token = sign_up("gus@example.org");
    const std::vector<httplib::Headers> refused = {
        {},
        {{"Authorization", "Bearer "}},
        {{"Authorization", "Bearer not-a-token"}},
        {{"Authorization", "Basic " + token}},
        {{"Authorization", token}},
    };
    for (const auto& headers : refused) {
        const Answer a = answer(sim_->client().Get("/api/auth/me", headers));
        EXPECT_EQ(a.status, 401);
        EXPECT_EQ(a.body["detail"], "Not authenticated");
    }
    // The scheme is case-insensitive, as HTTP says.
    EXPECT_EQ(answer(sim_->client().Get("/api/auth/me", {{"Authorization", "bearer " + token}})).status, 200);
}

}  // namespace
}  // namespace nb::test
