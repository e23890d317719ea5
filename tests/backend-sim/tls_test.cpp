// HTTPS with certificates made for the test: a client that trusts the test
// authority gets answers; one shown a certificate for another name or one
// nobody signed refuses the connection.
#include "tests/backend-sim/api_fixture.h"
#include "tests/support/client_process.h"
#include "tests/support/test_certificates.h"

namespace nb::test {
namespace {

class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certificates_ = new TestCertificates(make_test_certificates(fresh_temp_dir("backend-tls")));
    }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(certificates_->error.empty()) << certificates_->error; }

    static BackendOptions https(const std::filesystem::path& cert, const std::filesystem::path& key) {
        return seeded_options([&](BackendOptions& o) {
            o.tls_cert = cert.string();
            o.tls_key = key.string();
        });
    }
    static httplib::Result fetch(const std::string& host, int port) {
        httplib::SSLClient client(host, port);
        client.set_ca_cert_path(certificates_->ca_cert.c_str());
        client.enable_server_certificate_verification(true);
        return client.Get("/api/servers");
    }

    static TestCertificates* certificates_;
};

TestCertificates* Tls::certificates_ = nullptr;

TEST_F(Tls, TrustedCertificateServesTheApiByAddressAndName) {
    BackendSimInstance sim(https(certificates_->server_cert, certificates_->server_key));
    ASSERT_TRUE(sim.started());
    EXPECT_TRUE(sim.server().https());
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        auto r = fetch(host, sim.port());
        ASSERT_TRUE(r) << host << ": " << httplib::to_string(r.error());
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(json_of(r)["total"], 14);
    }
    // Plain HTTP gets no answer from the HTTPS port.
    auto plain = sim.client().Get("/api/servers");
    EXPECT_FALSE(plain && plain->status == 200);
}

TEST_F(Tls, ClientsRefuseCertificatesForOtherNamesOrUnknownSigners) {
    const std::vector<std::pair<std::filesystem::path, std::filesystem::path>> refused = {
        {certificates_->other_name_cert, certificates_->other_name_key},
        {certificates_->untrusted_cert, certificates_->untrusted_key},
    };
    for (const auto& [cert, key] : refused) {
        BackendSimInstance sim(https(cert, key));
        ASSERT_TRUE(sim.started()) << cert;
        auto r = fetch("127.0.0.1", sim.port());
        EXPECT_FALSE(r) << cert;
        EXPECT_EQ(r.error(), httplib::Error::SSLServerVerification) << cert << ": " << httplib::to_string(r.error());
    }
}

TEST_F(Tls, MissingOrMismatchedKeyMaterialStopsTheStart) {
    EXPECT_FALSE(BackendSimInstance(https(certificates_->server_cert, "/nonexistent/key.pem")).started());
    EXPECT_FALSE(BackendSimInstance(https(certificates_->server_cert, certificates_->other_name_key)).started());
}

}  // namespace
}  // namespace nb::test
