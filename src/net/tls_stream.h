// TLS on top of a TCP connection, as a client, through OpenSSL. The chain and
// the name are checked during the handshake, but the verdict is left to the
// caller: a certificate the system does not trust may still be one the user
// pinned.
#pragma once

#include "net/tcp_socket.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;
using SSL_SESSION = struct ssl_session_st;
using X509 = struct x509_st;

namespace vistrel {

// What a user needs to decide whether a certificate is the server's.
struct Certificate_Info {
    std::string Subject;
    std::string Issuer;
    std::string Not_Before; // "2026-01-31 23:59:59 UTC"
    std::string Not_After;
    std::string Fingerprint; // SHA-256 of the DER form, "AB:CD:..."
    bool Expired = false;    // now is past Not_After
    bool Not_Yet_Valid = false;
};

// Read off a certificate.
Certificate_Info Describe_Certificate(X509* certificate);

// The client side's settings, shared by a control connection and the data
// connections that resume its session.
class Tls_Context {
public:
    // TLS 1.2 at least; the system's trust store, as OpenSSL finds it
    // (SSL_CERT_FILE and SSL_CERT_DIR included).
    Tls_Context();
    ~Tls_Context();
    Tls_Context(const Tls_Context&) = delete;
    Tls_Context& operator=(const Tls_Context&) = delete;

    SSL_CTX* Get() const { return context_; }

private:
    SSL_CTX* context_;
};

// The latest session a server gave: the next data connection resumes it.
class Tls_Session_Slot {
public:
    Tls_Session_Slot() = default;
    ~Tls_Session_Slot();
    Tls_Session_Slot(const Tls_Session_Slot&) = delete;
    Tls_Session_Slot& operator=(const Tls_Session_Slot&) = delete;

    // Takes ownership.
    void Keep(SSL_SESSION* session) noexcept;
    // A reference of the caller's, or null; SSL_SESSION_free it.
    SSL_SESSION* Take_Reference() const;

private:
    mutable std::mutex mutex_;
    SSL_SESSION* session_ = nullptr;
};

// What the handshake found out about the server.
struct Tls_Peer {
    bool Verified = false;    // the chain leads to a trusted root and names the host
    std::string Verify_Error; // why not, in OpenSSL's words
    bool Resumed = false;
    Certificate_Info Certificate;
};

class Tls_Stream : public Byte_Stream {
public:
    // `host` as the user gave it: a name is sent as SNI and must match the
    // certificate, an address must be one of its IP addresses. A control
    // connection keeps the sessions the server gives in `sessions`; a data
    // connection offers the one kept there instead.
    enum class Role { Control, Data };
    Tls_Stream(std::shared_ptr<Tcp_Socket> socket, std::shared_ptr<const Tls_Context> context,
               const std::string& host, std::shared_ptr<Tls_Session_Slot> sessions, Role role);
    ~Tls_Stream() override;
    Tls_Stream(const Tls_Stream&) = delete;
    Tls_Stream& operator=(const Tls_Stream&) = delete;

    // Runs the handshake until it ends or the deadline passes. After a
    // Socket_Timeout it may be called again: it goes on where it stopped.
    void Handshake(Deadline deadline);
    const Tls_Peer& Peer() const { return peer_; }

    bool Established() const override { return handshaken_ && socket_->Established(); }
    size_t Send_Some(std::string_view bytes, Deadline deadline) override;
    size_t Receive(char* buffer, size_t capacity, Deadline deadline) override;
    bool Has_Input() override;
    bool Peer_Closed() const override { return socket_->Peer_Closed(); }
    // Concurrent use of one TLS connection from two threads is not safe.
    bool Sends_Beside_Reader() const override { return false; }
    Endpoint Peer_Address() const override { return socket_->Peer_Address(); }
    // Sends close_notify, then waits a little for the server's end, so that
    // the connection closes without a reset.
    void Finish(Deadline deadline) override;
    // Cuts the socket under the TLS connection: no TLS call waits after it.
    void Shutdown() noexcept override { socket_->Shutdown(); }

private:
    template <class Call> int Drive(Call call, Deadline deadline, const char* what);
    [[noreturn]] void Fail(int result, int error, const char* what);

    const std::shared_ptr<Tcp_Socket> socket_;
    const std::shared_ptr<const Tls_Context> context_;
    const std::shared_ptr<Tls_Session_Slot> sessions_;
    SSL* ssl_;
    // Read by Established() from threads other than the one that talks.
    std::atomic<bool> handshaken_{false};
    Tls_Peer peer_;
};

} // namespace vistrel
