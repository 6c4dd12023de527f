// Which servers' certificates the user trusts beyond the system's store, and
// the verdict on the certificate a server showed.
#pragma once

#include "net/tls_stream.h"
#include "upload/ftp_session.h"

#include <cstdint>
#include <string>

namespace vistrel {

enum class Certificate_Problem {
    None,
    Untrusted,     // neither the system trusts it nor is it pinned
    Changed,       // another certificate is pinned for the server
    Expired,       // refused even when pinned
    Not_Yet_Valid, // refused even when pinned
};

// `pinned` is the fingerprint the user trusted for the server, empty when
// none. The dates come first: a pin does not make an expired certificate good.
Certificate_Problem Judge_Certificate(const Tls_Peer& peer, const std::string& pinned);

// A server whose certificate is not to be used: nothing was sent to it.
class Certificate_Error : public FTP_Error {
public:
    Certificate_Error(Certificate_Problem problem, const Tls_Peer& peer, std::string host,
                      uint16_t port);

    Certificate_Problem Problem() const { return problem_; }
    const Tls_Peer& Peer() const { return peer_; }
    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }

private:
    Certificate_Problem problem_;
    Tls_Peer peer_;
    std::string host_;
    uint16_t port_;
};

// What the user reads about a refused certificate.
std::string Certificate_Problem_Text(Certificate_Problem problem, const Tls_Peer& peer);

// "host:port", an IPv6 address in brackets.
std::string Host_And_Port(const std::string& host, uint16_t port);

// What the connection test asks about a certificate it may pin:
// "Trust this certificate for host:port?", and what the user decides on.
std::string Trust_Question(const Certificate_Error& refused);
std::string Trust_Question_Details(const Certificate_Error& refused);

// "host:port" as the pins file keys a server: the host in lower case, an IPv6
// address in brackets.
std::string Server_Key(const std::string& host, uint16_t port);

// The pins file, "trusted_servers.ini" in the data folder: one SHA-256
// fingerprint per server. Read afresh at each look-up, so that a pin made by
// the connection test counts for the worker's next connection.
class Trusted_Servers {
public:
    static constexpr const char* kFile_Name = "trusted_servers.ini";

    explicit Trusted_Servers(std::string path) : path_(std::move(path)) {}

    // Empty when none is pinned or the file cannot be read.
    std::string Pinned(const std::string& host, uint16_t port) const noexcept;
    // Written in one step, readable by the owner only; throws
    // std::system_error when it cannot be.
    void Pin(const std::string& host, uint16_t port, const std::string& fingerprint) const;

private:
    std::string path_;
};

} // namespace vistrel
