// Throwaway TLS material made at test time with the openssl program: a
// certificate authority, a server certificate it signed for 127.0.0.1 and
// localhost, one it signed for another name, and a self-signed one nobody
// trusts. Tests hand the authority to the client under test and one of the
// certificates to the server.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace nb::test {

struct TestCertificates {
    std::filesystem::path ca_cert;          // PEM, the authority to trust
    std::filesystem::path server_cert;      // for 127.0.0.1 and localhost, signed by ca_cert
    std::filesystem::path server_key;
    std::filesystem::path other_name_cert;  // for wrong.nubora.test only, signed by ca_cert
    std::filesystem::path other_name_key;
    std::filesystem::path untrusted_cert;   // for 127.0.0.1 and localhost, self-signed
    std::filesystem::path untrusted_key;
    std::string error;                      // set when making them failed
};

namespace detail {

inline bool run_openssl(const std::filesystem::path& dir, const std::string& args, std::string& error) {
    const std::string command = "cd '" + dir.string() + "' && openssl " + args + " >>openssl.log 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    std::ifstream log(dir / "openssl.log");
    error = "openssl " + args + " failed:\n" + std::string(std::istreambuf_iterator<char>(log), {});
    return false;
}

// A key and a certificate for `names` (subjectAltName syntax) signed by the
// authority in dir.
inline bool issue(const std::filesystem::path& dir, const std::string& stem, const std::string& common_name,
                  const std::string& names, std::string& error) {
    {
        std::ofstream ext(dir / (stem + ".ext"));
        ext << "subjectAltName=" << names << "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    }
    return run_openssl(dir, "req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + stem +
                                ".key -out " + stem + ".csr -subj /CN=" + common_name, error) &&
           run_openssl(dir, "x509 -req -in " + stem + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out " +
                                stem + ".pem -extfile " + stem + ".ext", error);
}

}  // namespace detail

// Makes everything in `dir`; check `error` before use.
inline TestCertificates make_test_certificates(const std::filesystem::path& dir) {
    TestCertificates out;
    std::filesystem::create_directories(dir);
    const std::string ec_key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const bool ok =
        detail::run_openssl(dir, "req -x509 " + ec_key + "-keyout ca.key -out ca.pem -days 2 -subj '/CN=Nubora Test CA'"
                                 " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign",
                            out.error) &&
        detail::issue(dir, "server", "localhost", "DNS:localhost,IP:127.0.0.1", out.error) &&
        detail::issue(dir, "other", "wrong.nubora.test", "DNS:wrong.nubora.test", out.error) &&
        detail::run_openssl(dir, "req -x509 " + ec_key + "-keyout untrusted.key -out untrusted.pem -days 2"
                                 " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1",
                            out.error);
    if (!ok) return out;
    out.ca_cert = dir / "ca.pem";
    out.server_cert = dir / "server.pem";
    out.server_key = dir / "server.key";
    out.other_name_cert = dir / "other.pem";
    out.other_name_key = dir / "other.key";
    out.untrusted_cert = dir / "untrusted.pem";
    out.untrusted_key = dir / "untrusted.key";
    return out;
}

}  // namespace nb::test
