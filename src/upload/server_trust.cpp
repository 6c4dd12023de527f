#include "upload/server_trust.h"

#include "base/file_helpers.h"
#include "settings/ini_document.h"

#include <algorithm>
#include <cctype>

namespace vistrel {

namespace {

constexpr const char* kSection = "SHA-256";

// Keyed as the server field names the server: a key of its own must not
// start with "[", which would read as a section.
std::string Pin_Key(const std::string& host, uint16_t port) {
    return "ftps://" + Server_Key(host, port);
}

std::string Validity(const Certificate_Info& certificate) {
    return "it is valid from " + certificate.Not_Before + " to " + certificate.Not_After;
}

} // namespace

Certificate_Problem Judge_Certificate(const Tls_Peer& peer, const std::string& pinned) {
    if (peer.Certificate.Expired)
        return Certificate_Problem::Expired;
    if (peer.Certificate.Not_Yet_Valid)
        return Certificate_Problem::Not_Yet_Valid;
    if (peer.Verified)
        return Certificate_Problem::None;
    if (pinned.empty() || peer.Certificate.Fingerprint.empty())
        return Certificate_Problem::Untrusted;
    return pinned == peer.Certificate.Fingerprint ? Certificate_Problem::None
                                                  : Certificate_Problem::Changed;
}

std::string Certificate_Problem_Text(Certificate_Problem problem, const Tls_Peer& peer) {
    switch (problem) {
    case Certificate_Problem::None:
        return {};
    case Certificate_Problem::Untrusted:
        return "The server's certificate is not trusted (" + peer.Verify_Error +
               "); run the connection test to trust it";
    case Certificate_Problem::Changed:
        return "The server's certificate has changed; run the connection test to trust it again";
    case Certificate_Problem::Expired:
        return "The server's certificate has expired: " + Validity(peer.Certificate);
    case Certificate_Problem::Not_Yet_Valid:
        return "The server's certificate is not valid yet: " + Validity(peer.Certificate);
    }
    return {};
}

Certificate_Error::Certificate_Error(Certificate_Problem problem, const Tls_Peer& peer,
                                     std::string host, uint16_t port)
    : FTP_Error(0, Certificate_Problem_Text(problem, peer), "AUTH", Failure_Kind::Server_Refused),
      problem_(problem), peer_(peer), host_(std::move(host)), port_(port) {}

std::string Host_And_Port(const std::string& host, uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string Server_Key(const std::string& host, uint16_t port) {
    std::string lower = host;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return Host_And_Port(lower, port);
}

std::string Trust_Question(const Certificate_Error& refused) {
    return "Trust this certificate for " + Host_And_Port(refused.Host(), refused.Port()) + "?";
}

std::string Trust_Question_Details(const Certificate_Error& refused) {
    const Tls_Peer& peer = refused.Peer();
    const Certificate_Info& certificate = peer.Certificate;
    const std::string why = refused.Problem() == Certificate_Problem::Changed
                                ? "It is not the certificate trusted for this server before."
                                : "The system does not trust it: " + peer.Verify_Error + ".";
    return "The server " + refused.Host() + " port " + std::to_string(refused.Port()) +
           " shows this certificate. " + why + "\n\nSubject: " + certificate.Subject +
           "\nIssuer: " + certificate.Issuer + "\nValid from " + certificate.Not_Before + " to " +
           certificate.Not_After + "\nSHA-256 fingerprint: " + certificate.Fingerprint +
           "\n\nTrust it only if it is the fingerprint your server shows.";
}

std::string Trusted_Servers::Pinned(const std::string& host, uint16_t port) const noexcept {
    try {
        const std::optional<std::string> content = Read_Whole_File(path_);
        if (!content)
            return {};
        return Ini_Document::Parse(*content).Value(kSection, Pin_Key(host, port)).value_or("");
    } catch (...) {
        return {};
    }
}

void Trusted_Servers::Pin(const std::string& host, uint16_t port,
                          const std::string& fingerprint) const {
    Ini_Document pins = Ini_Document::Parse(Read_Whole_File(path_).value_or(""));
    pins.Set(kSection, Pin_Key(host, port), fingerprint);
    Temporary_File file(path_);
    file.Write(pins.Serialize());
    file.Set_Mode(0600);
    file.Commit_As(path_, Durability::Power_Loss);
}

} // namespace vistrel
