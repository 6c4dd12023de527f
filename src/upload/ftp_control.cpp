// The FTP client's control connection: how it is opened and closed, each
// command and its reply within the reply limit, and the cuts another thread
// may make while an operation waits.
#include "upload/ftp_client.h"

#include <utility>

namespace vistrel {

std::shared_ptr<Tcp_Socket> FTP_Client::Open_Control() {
    // PASV describes IPv4 only, so IPv4 is what we try first.
    if (!Is_Numeric_Host(Host))
        Status(Ftp_Status::hsResolving, "Resolving " + Host + ".");
    std::vector<Endpoint> endpoints;
    try {
        endpoints = connector_.Look_Up(Name_Resolver, Host, Port, Lookup_Timeout, *this);
    } catch (const Socket_Timeout&) {
        throw Socket_Timeout("no address for " + Host + " within " + Seconds_Text(Lookup_Timeout));
    }
    std::string attempted;
    try {
        return connector_.Connect(
            Host, endpoints, Connect_Timeout, *this, [&](const Endpoint& endpoint) {
                attempted = endpoint.Host();
                Status(Ftp_Status::hsConnecting, "Connecting to " + attempted + ".");
            });
    } catch (const Socket_Timeout&) {
        throw Socket_Timeout("no connection to " + attempted + " within " +
                             Seconds_Text(Connect_Timeout));
    }
}

void FTP_Client::Throw_If_Cut() const {
    if (ended_)
        throw Socket_Error("the connection is closed for good");
}

void FTP_Client::Hold(const std::shared_ptr<Tcp_Socket>& socket) {
    Throw_If_Cut();
    control_ = socket;
}

bool FTP_Client::Let_Go(const std::shared_ptr<Tcp_Socket>& socket, bool last) {
    const bool dropped = control_ != socket;
    // The last one stays, for the close that follows to say so.
    if (!dropped && !last)
        control_.reset();
    return dropped;
}

FTP_Client::Handles FTP_Client::Drop_Handles() noexcept {
    Handles dropped{std::move(control_), std::move(data_)};
    logged_in_ = false;
    return dropped;
}

void FTP_Client::Close_Control(bool owner, const Byte_Stream* expected) noexcept {
    Handles dropped;
    {
        std::lock_guard lock(handles_mutex_);
        if (expected != nullptr && control_.get() != expected)
            return; // already replaced or closed
        dropped = Drop_Handles();
        connector_.Interrupt_Locked();
    }
    const std::shared_ptr<Byte_Stream>& control = dropped.control;
    const std::shared_ptr<Byte_Stream>& data = dropped.data;
    if (!control) {
        if (data)
            data->Shutdown();
        return;
    }
    Status(Ftp_Status::hsDisconnecting, "Disconnecting.");
    // Nobody listens on a connection still being set up, or one the server
    // closed. A TLS connection takes no QUIT from here while another thread's
    // operation may be reading it: TLS cannot write beside a reader.
    if (control->Established() && !control->Peer_Closed() &&
        (owner || control->Sends_Beside_Reader())) {
        try {
            control->Send_All("QUIT\r\n", After(kGrace));
            // A blocked operation reads this connection itself; it is about to
            // fail anyway.
            if (owner) {
                const Deadline deadline = After(kGrace);
                Read_Reply([&] { return control_lines_.Read_Line(*control, deadline); });
            }
        } catch (const std::exception&) {
            // Closing goes on whatever the server says, or does not say.
        }
    }
    // The control connection goes first, so that an operation woken by the end
    // of its data connection cannot send anything more.
    control->Shutdown();
    if (data)
        data->Shutdown();
    if (owner)
        control_lines_.Clear();
    Status(Ftp_Status::hsDisconnected, "Disconnected.");
}

void FTP_Client::Cut_Control(const Byte_Stream& control, bool owner) noexcept {
    Handles dropped;
    {
        std::lock_guard lock(handles_mutex_);
        if (control_.get() != &control)
            return; // already replaced or closed
        dropped = Drop_Handles();
    }
    dropped.control->Shutdown();
    if (dropped.data)
        dropped.data->Shutdown();
    if (owner)
        control_lines_.Clear();
    Status(Ftp_Status::hsDisconnected, "Connection closed.");
}

void FTP_Client::Disconnect() noexcept {
    try {
        std::unique_lock operation(operation_mutex_, std::try_to_lock);
        Close_Control(operation.owns_lock());
    } catch (...) {
        // Only the lock could fail, and closing must not.
    }
}

void FTP_Client::Close_For_Good() noexcept {
    Handles dropped;
    {
        std::lock_guard lock(handles_mutex_);
        ended_ = true;
        dropped = Drop_Handles();
        connector_.Abandon_Locked();
    }
    if (dropped.control)
        dropped.control->Shutdown();
    if (dropped.data)
        dropped.data->Shutdown();
}

void FTP_Client::Abort_Transfer() noexcept {
    try {
        std::unique_lock operation(operation_mutex_, std::try_to_lock);
        std::shared_ptr<Byte_Stream> control;
        {
            // Marked before ABOR goes out: the server may answer it, and drop
            // the data connection, before this thread runs again.
            std::lock_guard lock(handles_mutex_);
            control = control_;
            // Nothing to abort on a connection still being set up: it is cut
            // by Disconnect.
            if (!control || !control->Established() || control->Peer_Closed())
                return;
            aborted_ = data_ != nullptr; // the transfer then fails as aborted
        }
        // A TLS connection that another thread reads cannot take a word
        // beside it: it is cut like one that took none.
        bool sent = operation.owns_lock() || control->Sends_Beside_Reader();
        try {
            if (sent)
                control->Send_All("ABOR\r\n", After(kGrace));
        } catch (const Socket_Error&) {
            sent = false;
        }
        if (!sent) {
            // A server that does not take six bytes is not listening: the
            // connection is of no further use.
            Cut_Control(*control, operation.owns_lock());
            return;
        }
        // Which replies follow an abort, and when, differs from server to
        // server: rather than wait for them, the next operation connects
        // afresh.
        Close_Control(operation.owns_lock(), control.get());
    } catch (...) {
        // Closing must go on whatever happens here.
    }
}

Ftp_Reply FTP_Client::Command(Byte_Stream& control, const std::string& line,
                              std::initializer_list<int> accepted) {
    const std::string word = First_Word(line);
    Ftp_Reply reply;
    try {
        Expect_In_Step(control, word);
        const Deadline deadline = After(Read_Timeout);
        Send_Line(control, line, deadline);
        reply = Receive_Reply(control, deadline);
    } catch (const Socket_Error& e) {
        Fail_On_Control(control, e, word);
    }
    if (!Reply_In_Step(reply.Code, false)) {
        Cut_Control(control, true);
        throw FTP_Error(0, "the reply to " + word + " came out of step: " + reply.Joined_Text(),
                        word);
    }
    if (accepted.size() != 0 && !Is_One_Of(reply.Code, accepted))
        throw FTP_Error(reply.Code, reply.Joined_Text(), word,
                        Reply_Failure_Kind(reply.Code, word));
    return reply;
}

void FTP_Client::Expect_In_Step(Byte_Stream& control, const std::string& word) {
    // Anything the server said unasked would be taken for this command's
    // reply.
    if (control_lines_.Holds_Bytes() || (control.Has_Input() && !control.Peer_Closed())) {
        Cut_Control(control, true);
        throw FTP_Error(0, "the server sent a reply nobody asked for before " + word, word);
    }
}

void FTP_Client::Fail_On_Control(Byte_Stream& control, const std::exception& e,
                                 const std::string& word) {
    // Whatever the server still sends could be taken for the reply of a later
    // command: the connection goes.
    Cut_Control(control, true);
    if (dynamic_cast<const Socket_Timeout*>(&e) != nullptr)
        throw FTP_Error(0, "no reply to " + word + " within " + Seconds_Text(Read_Timeout), word);
    throw FTP_Error(0, e.what(), word);
}

void FTP_Client::Send_Line(Byte_Stream& control, const std::string& line, Deadline deadline) {
    // A name with a line break would smuggle in a command of its own.
    if (line.find_first_of("\r\n") != std::string::npos)
        throw FTP_Error(0, "line break in the command " + First_Word(line), First_Word(line));
    control.Send_All(line + "\r\n", deadline);
}

Ftp_Reply FTP_Client::Receive_Reply(Byte_Stream& control, Deadline deadline) {
    return Read_Reply([&] { return control_lines_.Read_Line(control, deadline); });
}

} // namespace vistrel
