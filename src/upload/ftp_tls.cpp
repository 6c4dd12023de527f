// Explicit TLS for the FTP client: AUTH TLS on the control connection, the
// certificate judged before a word more is sent, and every data connection
// protected with the same certificate.
#include "upload/ftp_client.h"

#include "upload/server_trust.h"

#include <algorithm>
#include <utility>

namespace vistrel {

namespace {

// How long a data connection's handshake runs before the control connection
// is looked at again.
constexpr Milliseconds kHandshake_Slice{50};

} // namespace

void FTP_Client::Secure_Control(const std::shared_ptr<Tcp_Socket>& control) {
    const Ftp_Reply consent = Command(*control, "AUTH TLS", {});
    if (consent.Code != 234)
        throw FTP_Error(consent.Code, "The server does not offer encryption (AUTH TLS refused)",
                        "AUTH", Reply_Failure_Kind(consent.Code, "AUTH"));
    // Bytes after the consent came in clear: taken as replies under TLS they
    // would be anybody's.
    if (control_lines_.Holds_Bytes())
        throw FTP_Error(0, "the server sent more than its consent to encryption", "AUTH");
    auto context = std::make_shared<const Tls_Context>();
    auto sessions = std::make_shared<Tls_Session_Slot>();
    auto secured =
        std::make_shared<Tls_Stream>(control, context, Host, sessions, Tls_Stream::Role::Control);
    // Published before the wait, so that Disconnect can cut it short.
    Replace_Handle(control_, control, secured);
    try {
        secured->Handshake(After(Read_Timeout));
    } catch (const Socket_Timeout&) {
        throw Socket_Timeout("no TLS handshake with the server within " +
                             Seconds_Text(Read_Timeout));
    }
    // Nothing, not even the user name, goes to a server we cannot be sure of.
    const std::string pinned = Pinned_Certificate ? Pinned_Certificate(Host, Port) : std::string();
    const Certificate_Problem problem = Judge_Certificate(secured->Peer(), pinned);
    if (problem != Certificate_Problem::None) {
        // Not even a QUIT: the connection is cut without a word.
        Cut_Control(*secured, true);
        throw Certificate_Error(problem, secured->Peer(), Host, Port);
    }
    tls_context_ = std::move(context);
    tls_sessions_ = std::move(sessions);
    server_fingerprint_ = secured->Peer().Certificate.Fingerprint;
}

void FTP_Client::Replace_Handle(std::shared_ptr<Byte_Stream>& handle,
                                const std::shared_ptr<Byte_Stream>& plain,
                                std::shared_ptr<Byte_Stream> secured) {
    std::lock_guard lock(handles_mutex_);
    if (ended_)
        throw Socket_Error("the connection is closed for good");
    if (handle != plain)
        throw Socket_Error("connection closed"); // cut by another thread
    handle = std::move(secured);
}

void FTP_Client::Protect_Data(Byte_Stream& control) {
    if (!tls_context_ || data_protected_)
        return;
    Command(control, "PBSZ 0", {200});
    Command(control, "PROT P", {200});
    data_protected_ = true;
}

std::optional<Ftp_Reply> FTP_Client::Secure_Data(Byte_Stream& control,
                                                 std::shared_ptr<Byte_Stream>& data,
                                                 Deadline deadline) {
    auto secured =
        std::make_shared<Tls_Stream>(std::static_pointer_cast<Tcp_Socket>(data), tls_context_, Host,
                                     tls_sessions_, Tls_Stream::Role::Data);
    Replace_Handle(data_, data, secured);
    data = secured;
    std::optional<Ftp_Reply> reply;
    for (;;) {
        try {
            secured->Handshake(std::min(deadline, After(kHandshake_Slice)));
            break;
        } catch (const Socket_Timeout&) {
            if (Steady_Clock::now() >= deadline)
                throw;
        }
        // A server that refuses the transfer never answers the handshake.
        if (!reply && (control_lines_.Holds_Line() || control.Has_Input())) {
            reply = Receive_Reply(control, deadline);
            if (reply->Code < 100 || reply->Code > 199)
                return reply;
        }
    }
    if (secured->Peer().Certificate.Fingerprint != server_fingerprint_)
        throw Socket_Error("the data connection showed another certificate than the server");
    return reply;
}

} // namespace vistrel
