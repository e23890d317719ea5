// HTTPS for real: the simulator serves a certificate from an authority made
// for this run, and the client, verifying as it always does, trusts it only
// when told to through CURL_CA_BUNDLE.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "tests/support/log_capture.h"
#include "tests/support/rest_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_certificates.h"
#include "ui/rest_client.h"

namespace nb::ui {
namespace {

namespace fs = std::filesystem;

class RestTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<test::TempFolder>("nb-rest-tls");
        certs_ = std::make_unique<test::TestCertificates>(test::make_test_certificates(folder_->path()));
    }
    static void TearDownTestSuite() {
        certs_.reset();
        folder_.reset();
    }

    void SetUp() override { ASSERT_TRUE(certs_->error.empty()) << certs_->error; }

    static inline std::unique_ptr<test::TempFolder> folder_;
    static inline std::unique_ptr<test::TestCertificates> certs_;
};

// The simulator under one certificate, the client with or without the
// test authority.
struct TlsBackend {
    TlsBackend(const fs::path& cert, const fs::path& key, const fs::path& trusted_ca)
        : sim(serving(cert, key)) {
        env.clear_proxies();
        if (trusted_ca.empty()) {
            env.unset("CURL_CA_BUNDLE");
        } else {
            env.set("CURL_CA_BUNDLE", trusted_ca.string());
        }
    }
    static BackendOptions serving(const fs::path& cert, const fs::path& key) {
        BackendOptions options = test::seeded_backend_options();
        options.tls_cert = cert.string();
        options.tls_key = key.string();
        return options;
    }
    std::string address(const std::string& host) const { return host + ":" + std::to_string(sim.port()); }

    test::ScopedEnv env;
    test::BackendSimInstance sim;
};

TEST_F(RestTls, TrustedCertificateServesEveryCallOverHttpsOnly) {
    TlsBackend tls(certs_->server_cert, certs_->server_key, certs_->ca_cert);
    ASSERT_TRUE(tls.sim.started());
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        const std::string b = tls.address(host);
        const ServerListResult servers = list_servers(b, "", 0, 0, "rating", true);
        EXPECT_TRUE(servers.ok) << host << ": " << servers.error;
        EXPECT_EQ(servers.total, 14) << host;
    }
    const std::string b = tls.address("127.0.0.1");
    const AuthResult user = register_account(b, "tls@nubora.test", "pw-12345", "T", "client", true);
    ASSERT_TRUE(user.ok) << user.error;
    EXPECT_TRUE(fetch_profile(b, user.token, true).ok);
    const CreateSessionResult created = create_session(b, user.token, "srv-aurora-4090", "h264", true);
    ASSERT_TRUE(created.ok) << created.error;
    EXPECT_TRUE(get_active_session(b, user.token, true).ok);
    EXPECT_TRUE(get_connect_info(b, user.token, true).ok);
    EXPECT_TRUE(end_session(b, user.token, created.session_id, true));
    EXPECT_EQ(list_servers(b, "", 0, 0, "rating", false).error, "No response");  // plain HTTP gets no answer
}

TEST_F(RestTls, CertificatesThatDoNotProveTheHostAreRefused) {
    struct Case {
        const char* name;
        fs::path cert;
        fs::path key;
        fs::path trusted_ca;
        const char* cause;  // in libcurl's words, as the log line gives it
    };
    const Case cases[] = {
        {"issued for another name", certs_->other_name_cert, certs_->other_name_key, certs_->ca_cert,
         "subject name"},
        {"self-signed", certs_->untrusted_cert, certs_->untrusted_key, certs_->ca_cert, "self-signed"},
        {"authority not given", certs_->server_cert, certs_->server_key, {}, "local issuer"},
    };
    for (const Case& c : cases) {
        TlsBackend tls(c.cert, c.key, c.trusted_ca);
        ASSERT_TRUE(tls.sim.started()) << c.name;
        const std::string b = tls.address("127.0.0.1");
        test::LogCapture log;
        EXPECT_EQ(login(b, "demo@nubora.test", "nubora-demo", true).error, "No response from server") << c.name;
        EXPECT_EQ(list_servers(b, "", 0, 0, "rating", true).error, "No response") << c.name;
        EXPECT_TRUE(log.contains_substring("HttpTransport: POST https://" + b + "/api/auth/login failed: "))
            << c.name;
        EXPECT_TRUE(log.contains_substring(c.cause)) << c.name;
    }
}

}  // namespace
}  // namespace nb::ui
