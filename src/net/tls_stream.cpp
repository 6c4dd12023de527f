#include "net/tls_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

namespace vistrel {

namespace {

// The slot a connection keeps its new sessions in, found from the SSL object
// in OpenSSL's callback.
int Slot_Index() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int Keep_New_Session(SSL* ssl, SSL_SESSION* session) {
    auto* slot = static_cast<Tls_Session_Slot*>(SSL_get_ex_data(ssl, Slot_Index()));
    if (slot == nullptr)
        return 0; // not ours to keep: OpenSSL frees it
    slot->Keep(session);
    return 1;
}

std::string Name_Text(const X509_NAME* name) {
    BIO* text = BIO_new(BIO_s_mem());
    if (text == nullptr)
        return {};
    X509_NAME_print_ex(text, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* bytes = nullptr;
    const long size = BIO_get_mem_data(text, &bytes);
    std::string result(bytes, static_cast<size_t>(std::max(size, 0L)));
    BIO_free(text);
    return result;
}

std::string Time_Text(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return "?";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE once the
// server has reset the connection, and SIGPIPE ends the program. This holds
// it back for the calling thread during one TLS call and drops the one that
// call raised; errno stays as the call left it.
class Sigpipe_Held {
public:
    Sigpipe_Held() noexcept {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        was_pending_ = Pending();
        held_ = ::pthread_sigmask(SIG_BLOCK, &pipe_, &before_) == 0;
    }
    ~Sigpipe_Held() {
        if (!held_)
            return;
        const int saved_errno = errno;
        if (!was_pending_ && Pending()) {
            const timespec now{0, 0};
            while (::sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &before_, nullptr);
        errno = saved_errno;
    }
    Sigpipe_Held(const Sigpipe_Held&) = delete;
    Sigpipe_Held& operator=(const Sigpipe_Held&) = delete;

private:
    static bool Pending() noexcept {
        sigset_t pending;
        sigemptyset(&pending);
        return ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    }

    sigset_t pipe_{};
    sigset_t before_{};
    bool was_pending_ = false;
    bool held_ = false;
};

std::string Last_Error_Text() {
    const unsigned long error = ERR_get_error();
    if (error == 0)
        return {};
    const char* reason = ERR_reason_error_string(error);
    return reason != nullptr ? reason : "error " + std::to_string(error);
}

} // namespace

Certificate_Info Describe_Certificate(X509* certificate) {
    Certificate_Info info;
    info.Subject = Name_Text(X509_get_subject_name(certificate));
    info.Issuer = Name_Text(X509_get_issuer_name(certificate));
    info.Not_Before = Time_Text(X509_get0_notBefore(certificate));
    info.Not_After = Time_Text(X509_get0_notAfter(certificate));
    info.Not_Yet_Valid = X509_cmp_current_time(X509_get0_notBefore(certificate)) > 0;
    info.Expired = X509_cmp_current_time(X509_get0_notAfter(certificate)) < 0;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) == 1) {
        for (unsigned int i = 0; i < length; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
            info.Fingerprint += hex;
        }
    }
    return info;
}

Tls_Context::Tls_Context() : context_(SSL_CTX_new(TLS_client_method())) {
    if (context_ == nullptr)
        throw Socket_Error("cannot set up TLS: " + Last_Error_Text());
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    // FTPS servers take a data connection only when it resumes the control
    // connection's session. TLS 1.3 sessions are single-use tickets on
    // servers that keep a session cache (proftpd turns the third data
    // connection away), while a TLS 1.2 session resumes any number of times.
    SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
    // The verdict is taken after the handshake, from the verify result: an
    // untrusted certificate may be one the user pinned.
    SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
    // Honours SSL_CERT_FILE and SSL_CERT_DIR; a missing store only makes
    // every chain fail, which the verdict reports.
    SSL_CTX_set_default_verify_paths(context_);
    SSL_CTX_set_mode(context_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(context_,
                                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context_, Keep_New_Session);
}

Tls_Context::~Tls_Context() {
    SSL_CTX_free(context_);
}

Tls_Session_Slot::~Tls_Session_Slot() {
    SSL_SESSION_free(session_);
}

void Tls_Session_Slot::Keep(SSL_SESSION* session) noexcept {
    std::lock_guard lock(mutex_);
    SSL_SESSION_free(session_);
    session_ = session;
}

SSL_SESSION* Tls_Session_Slot::Take_Reference() const {
    std::lock_guard lock(mutex_);
    if (session_ != nullptr)
        SSL_SESSION_up_ref(session_);
    return session_;
}

Tls_Stream::Tls_Stream(std::shared_ptr<Tcp_Socket> socket,
                       std::shared_ptr<const Tls_Context> context, const std::string& host,
                       std::shared_ptr<Tls_Session_Slot> sessions, Role role)
    : socket_(std::move(socket)), context_(std::move(context)), sessions_(std::move(sessions)),
      ssl_(SSL_new(context_->Get())) {
    if (ssl_ == nullptr)
        throw Socket_Error("cannot set up TLS: " + Last_Error_Text());
    const bool set_up = [&] {
        if (SSL_set_fd(ssl_, socket_->Descriptor()) != 1)
            return false;
        if (role == Role::Control)
            SSL_set_ex_data(ssl_, Slot_Index(), sessions_.get());
        X509_VERIFY_PARAM* check = SSL_get0_param(ssl_);
        X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (Is_Numeric_Host(host))
            return X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str()) == 1;
        return SSL_set_tlsext_host_name(ssl_, host.c_str()) == 1 &&
               SSL_set1_host(ssl_, host.c_str()) == 1;
    }();
    if (!set_up) {
        SSL_free(ssl_);
        throw Socket_Error("cannot set up TLS for " + host + ": " + Last_Error_Text());
    }
    if (role == Role::Data && sessions_) {
        // SSL_set_session takes a reference of its own; a session it cannot
        // use only means a full handshake.
        SSL_SESSION* session = sessions_->Take_Reference();
        if (session != nullptr) {
            SSL_set_session(ssl_, session);
            SSL_SESSION_free(session);
        }
    }
}

Tls_Stream::~Tls_Stream() {
    SSL_free(ssl_);
}

template <class Call> int Tls_Stream::Drive(Call call, Deadline deadline, const char* what) {
    for (;;) {
        socket_->Throw_If_Shut_Down();
        ERR_clear_error();
        int result = 0;
        {
            const Sigpipe_Held held;
            errno = 0;
            result = call();
        }
        if (result > 0)
            return result;
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_WANT_READ)
            socket_->Wait_For(POLLIN, deadline, what);
        else if (error == SSL_ERROR_WANT_WRITE)
            socket_->Wait_For(POLLOUT, deadline, what);
        else if (error == SSL_ERROR_ZERO_RETURN)
            return 0;
        else
            Fail(result, error, what);
    }
}

void Tls_Stream::Fail(int result, int error, const char* what) {
    const int saved_errno = errno;
    socket_->Throw_If_Shut_Down();
    const unsigned long code = ERR_peek_error();
    if (error == SSL_ERROR_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        throw Socket_Error("the server ended the TLS connection without closing it");
    std::string text = Last_Error_Text();
    if (text.empty() && error == SSL_ERROR_SYSCALL)
        text = saved_errno != 0 ? std::strerror(saved_errno) : "connection closed by the peer";
    if (text.empty())
        text = "TLS error " + std::to_string(error) + " (" + std::to_string(result) + ")";
    throw Socket_Error(std::string(what) + ": " + text);
}

void Tls_Stream::Handshake(Deadline deadline) {
    if (handshaken_)
        return;
    const char* const what = "no TLS handshake with the server";
    if (Drive([this] { return SSL_connect(ssl_); }, deadline, what) == 0)
        throw Socket_Error(std::string(what) + ": the server closed the TLS connection");
    handshaken_ = true;
    peer_.Resumed = SSL_session_reused(ssl_) == 1;
    const long verdict = SSL_get_verify_result(ssl_);
    X509* certificate = SSL_get1_peer_certificate(ssl_);
    peer_.Verified = certificate != nullptr && verdict == X509_V_OK;
    peer_.Verify_Error = certificate == nullptr ? "the server sent no certificate"
                         : verdict == X509_V_OK ? std::string()
                                                : X509_verify_cert_error_string(verdict);
    if (certificate != nullptr) {
        peer_.Certificate = Describe_Certificate(certificate);
        X509_free(certificate);
    }
}

size_t Tls_Stream::Send_Some(std::string_view bytes, Deadline deadline) {
    if (bytes.empty())
        return 0;
    const int sent = Drive(
        [&] {
            return SSL_write(ssl_, bytes.data(),
                             static_cast<int>(std::min<size_t>(bytes.size(), 1 << 30)));
        },
        deadline, "the peer accepted no data");
    // Nothing sent because the server has closed the TLS connection: a caller
    // that sends the rest again would try for ever.
    if (sent <= 0)
        throw Socket_Error("the peer accepted no data: the server closed the TLS connection");
    return static_cast<size_t>(sent);
}

size_t Tls_Stream::Receive(char* buffer, size_t capacity, Deadline deadline) {
    const int count = Drive(
        [&] {
            return SSL_read(ssl_, buffer, static_cast<int>(std::min<size_t>(capacity, 1 << 30)));
        },
        deadline, "nothing received");
    return static_cast<size_t>(count);
}

bool Tls_Stream::Has_Input() {
    if (SSL_pending(ssl_) > 0)
        return true;
    if (!socket_->Has_Input())
        return false;
    // What arrived may be TLS's own business, such as a session ticket, and
    // no data at all.
    ERR_clear_error();
    char byte = 0;
    const int result = SSL_peek(ssl_, &byte, 1);
    if (result > 0)
        return true;
    const int error = SSL_get_error(ssl_, result);
    ERR_clear_error();
    return error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE;
}

void Tls_Stream::Finish(Deadline deadline) {
    if (!handshaken_)
        return;
    Drive([this] { return SSL_shutdown(ssl_) >= 0 ? 1 : -1; }, deadline,
          "the peer took no end of the data");
    // A reset, which unread bytes (a late session ticket) would cause at
    // close, could make the server drop what it has not read yet.
    ::shutdown(socket_->Descriptor(), SHUT_WR);
    const Deadline drained = std::min(deadline, After(Milliseconds(1000)));
    try {
        char chunk[4096];
        while ((SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN) == 0 &&
               Receive(chunk, sizeof chunk, drained) > 0) {
        }
    } catch (const Socket_Error&) {
        // Ours is sent: what the server does with its own end is its affair.
    }
}

} // namespace vistrel
