// Certificates made on the spot for the TLS tests: a certificate authority of
// the test's own and server certificates it signs, or self-signed ones, with
// any names and dates.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using EVP_PKEY = struct evp_pkey_st;
using X509 = struct x509_st;

namespace vistrel::test {

struct Validity {
    // From now; negative for the past.
    std::chrono::hours from{-24};
    std::chrono::hours to{24 * 30};
};

// The subject alternative names "localhost" and "127.0.0.1".
std::vector<std::string> Loopback_Names();

class Test_Certificate {
public:
    // Self-signed, for `names` ("DNS:..." or "IP:..." entries).
    Test_Certificate(const std::string& common_name, const std::vector<std::string>& names,
                     Validity validity = {});
    // Signed by `issuer`.
    Test_Certificate(const std::string& common_name, const std::vector<std::string>& names,
                     const Test_Certificate& issuer, Validity validity = {});
    // A certificate authority, self-signed.
    static Test_Certificate Authority(const std::string& common_name);
    ~Test_Certificate();
    Test_Certificate(Test_Certificate&& other) noexcept;
    Test_Certificate(const Test_Certificate&) = delete;
    Test_Certificate& operator=(const Test_Certificate&) = delete;

    // The certificate alone, in PEM.
    void Write_Certificate(const std::filesystem::path& file) const;
    // The certificate and its key, in PEM, as servers load them.
    void Write_With_Key(const std::filesystem::path& file) const;
    // "AB:CD:...", as the client shows it.
    std::string Fingerprint() const;

private:
    Test_Certificate() = default;
    void Build(const std::string& common_name, const std::vector<std::string>& names,
               const Test_Certificate* issuer, Validity validity, bool authority);

    EVP_PKEY* key_ = nullptr;
    X509* certificate_ = nullptr;
};

} // namespace vistrel::test
