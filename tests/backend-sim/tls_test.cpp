// HTTPS with certificates made for the test: a client that trusts the test
// authority gets answers; one shown a certificate for another name or one
// nobody signed refuses the connection.
#include "tests/backend-sim/api_fixture.h"
#include "tests/support/client_process.h"
#include "tests/support/test_certificates.h"

namespace nb::test {
namespace {

BackendOptions https(const std::filesystem::path& cert, const std::filesystem::path& key) {
    return seeded_options([&](BackendOptions& o) {
        o.tls_cert = cert.string();
        o.tls_key = key.string();
    });
}

TEST(Tls, OnlyACertificateForItsNameFromTheTrustedAuthorityServes) {
    const TestCertificates certificates = make_test_certificates(fresh_temp_dir("backend-tls"));
    ASSERT_TRUE(certificates.error.empty()) << certificates.error;
    auto fetch = [&](const std::string& host, int port) {
        httplib::SSLClient client(host, port);
        client.set_ca_cert_path(certificates.ca_cert.c_str());
        client.enable_server_certificate_verification(true);
        return client.Get("/api/servers");
    };
    {
        BackendSimInstance sim(https(certificates.server_cert, certificates.server_key));
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
    for (const auto& [cert, key] : {std::pair{certificates.other_name_cert, certificates.other_name_key},
                                    std::pair{certificates.untrusted_cert, certificates.untrusted_key}}) {
        BackendSimInstance sim(https(cert, key));
        ASSERT_TRUE(sim.started()) << cert;
        auto r = fetch("127.0.0.1", sim.port());
        EXPECT_FALSE(r) << cert;
        EXPECT_EQ(r.error(), httplib::Error::SSLServerVerification) << cert << ": " << httplib::to_string(r.error());
    }
    // Missing or mismatched key material stops the start.
    EXPECT_FALSE(BackendSimInstance(https(certificates.server_cert, "/nonexistent/key.pem")).started());
    EXPECT_FALSE(BackendSimInstance(https(certificates.server_cert, certificates.other_name_key)).started());
}

}  // namespace
}  // namespace nb::test
