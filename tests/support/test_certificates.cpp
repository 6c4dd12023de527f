#include "support/test_certificates.h"

#include "net/tls_stream.h"

#include <cstdio>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>
#include <stdexcept>
#include <utility>

namespace vistrel::test {

namespace {

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("cannot make a test certificate: ") + what);
}

void Add_Extension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    Check(extension != nullptr, "extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

struct File_Closer {
    void operator()(FILE* file) const { std::fclose(file); }
};

std::unique_ptr<FILE, File_Closer> Open_For_Writing(const std::filesystem::path& file) {
    std::unique_ptr<FILE, File_Closer> out(std::fopen(file.c_str(), "w"));
    Check(out != nullptr, "file");
    return out;
}

} // namespace

std::vector<std::string> Loopback_Names() {
    return {"DNS:localhost", "IP:127.0.0.1"};
}

Test_Certificate::Test_Certificate(const std::string& common_name,
                                   const std::vector<std::string>& names, Validity validity) {
    Build(common_name, names, nullptr, validity, false);
}

Test_Certificate::Test_Certificate(const std::string& common_name,
                                   const std::vector<std::string>& names,
                                   const Test_Certificate& issuer, Validity validity) {
    Build(common_name, names, &issuer, validity, false);
}

Test_Certificate Test_Certificate::Authority(const std::string& common_name) {
    Test_Certificate authority;
    authority.Build(common_name, {}, nullptr, Validity{}, true);
    return authority;
}

Test_Certificate::~Test_Certificate() {
    X509_free(certificate_);
    EVP_PKEY_free(key_);
}

Test_Certificate::Test_Certificate(Test_Certificate&& other) noexcept
    : key_(std::exchange(other.key_, nullptr)),
      certificate_(std::exchange(other.certificate_, nullptr)) {}

void Test_Certificate::Build(const std::string& common_name, const std::vector<std::string>& names,
                             const Test_Certificate* issuer, Validity validity, bool authority) {
    key_ = EVP_RSA_gen(2048);
    Check(key_ != nullptr, "key");
    certificate_ = X509_new();
    Check(certificate_ != nullptr, "certificate");
    static long serial = 1;
    X509_set_version(certificate_, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate_), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate_),
                    std::chrono::duration_cast<std::chrono::seconds>(validity.from).count());
    X509_gmtime_adj(X509_getm_notAfter(certificate_),
                    std::chrono::duration_cast<std::chrono::seconds>(validity.to).count());
    X509_set_pubkey(certificate_, key_);
    X509_NAME* subject = X509_get_subject_name(certificate_);
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Vistrel tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                               0);
    X509* signer = issuer != nullptr ? issuer->certificate_ : certificate_;
    X509_set_issuer_name(certificate_, X509_get_subject_name(signer));
    if (authority) {
        Add_Extension(certificate_, signer, NID_basic_constraints, "critical,CA:TRUE");
        Add_Extension(certificate_, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        Add_Extension(certificate_, signer, NID_basic_constraints, "CA:FALSE");
        Add_Extension(certificate_, signer, NID_ext_key_usage, "serverAuth");
    }
    if (!names.empty()) {
        std::string joined;
        for (const std::string& name : names)
            joined += (joined.empty() ? "" : ",") + name;
        Add_Extension(certificate_, signer, NID_subject_alt_name, joined);
    }
    Check(X509_sign(certificate_, issuer != nullptr ? issuer->key_ : key_, EVP_sha256()) > 0,
          "signature");
}

void Test_Certificate::Write_Certificate(const std::filesystem::path& file) const {
    const auto out = Open_For_Writing(file);
    Check(PEM_write_X509(out.get(), certificate_) == 1, "PEM");
}

void Test_Certificate::Write_With_Key(const std::filesystem::path& file) const {
    const auto out = Open_For_Writing(file);
    Check(PEM_write_X509(out.get(), certificate_) == 1, "PEM");
    Check(PEM_write_PrivateKey(out.get(), key_, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "PEM key");
}

std::string Test_Certificate::Fingerprint() const {
    return Describe_Certificate(certificate_).Fingerprint;
}

} // namespace vistrel::test
