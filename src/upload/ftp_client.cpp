// The FTP client's operations, each on the control connection it holds for
// its caller. Its other parts: the control connection (ftp_control.cpp), TLS
// for FTPS (ftp_tls.cpp) and the data connections (ftp_transfer.cpp).
#include "upload/ftp_client.h"

#include <utility>

namespace vistrel {

// The operation in progress: holds the client for its caller and keeps the
// control connection alive while another thread may drop the client's handle.
class FTP_Client::Operation {
public:
    explicit Operation(FTP_Client& client) : lock_(client.operation_mutex_) {
        std::lock_guard handles(client.handles_mutex_);
        if (client.ended_)
            throw FTP_Error(0, "the connection is closed for good");
        control_ = client.control_;
        if (!control_ || !control_->Established() || control_->Peer_Closed())
            throw FTP_Error(0, "not connected");
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    Byte_Stream& Control() { return *control_; }

private:
    std::unique_lock<std::mutex> lock_;
    std::shared_ptr<Byte_Stream> control_;
};

FTP_Client::FTP_Client() = default;

FTP_Client::~FTP_Client() = default;

void FTP_Client::Set_Server(const std::string& server) {
    Server_Address address = Parse_Server(server);
    if (address.Protocol == Transfer_Protocol::Sftp)
        throw FTP_Error(0, "an sftp:// server is for the SFTP client");
    Host = std::move(address.Host);
    Port = address.Port;
    Encrypted = address.Protocol == Transfer_Protocol::Ftps;
}

void FTP_Client::Set_Credentials(const std::string& user, const std::string& password) {
    Username = user;
    Password = password;
}

bool FTP_Client::Is_Connected() {
    std::lock_guard lock(handles_mutex_);
    // A connection still being set up has nobody at the other end yet.
    return control_ && control_->Established() && !control_->Peer_Closed();
}

bool FTP_Client::Logged_In() const {
    std::lock_guard lock(handles_mutex_);
    return logged_in_ && control_ && control_->Established() && !control_->Peer_Closed();
}

void FTP_Client::Throw_If_Ended() const {
    std::lock_guard lock(handles_mutex_);
    if (ended_)
        throw FTP_Error(0, "the connection is closed for good");
}

void FTP_Client::Connect() {
    std::unique_lock operation(operation_mutex_);
    Close_Control(true);
    // Bytes of a connection another thread closed are no part of this one.
    control_lines_.Clear();
    tls_context_.reset();
    tls_sessions_.reset();
    server_fingerprint_.clear();
    data_protected_ = false;
    try {
        Throw_If_Ended();
        const std::shared_ptr<Tcp_Socket> control = Open_Control();
        Status(Ftp_Status::hsConnected, "Connected.");
        Ftp_Reply greeting;
        try {
            greeting = Receive_Reply(*control, After(Read_Timeout));
        } catch (const Socket_Timeout&) {
            throw Socket_Timeout("no greeting from the server within " +
                                 Seconds_Text(Read_Timeout));
        }
        if (greeting.Code != 220)
            throw FTP_Error(greeting.Code, greeting.Joined_Text());
        // Some servers greet twice; what came with the greeting is part of it.
        while (control_lines_.Holds_Line()) {
            const Ftp_Reply more = Receive_Reply(*control, After(kGrace));
            if (more.Code != 220)
                throw FTP_Error(0, "the greeting came out of step: " + more.Joined_Text());
        }
        if (Encrypted)
            Secure_Control(control);
    } catch (const Socket_Error& e) {
        Close_Control(true);
        throw FTP_Error(0, e.what());
    } catch (const FTP_Error& e) {
        Close_Control(true);
        // A refused encryption is said after the close, whose own word would
        // hide it.
        if (e.Command() == "AUTH")
            Status(Ftp_Status::hsDisconnected, e.what());
        throw;
    } catch (...) {
        Close_Control(true);
        throw;
    }
}

void FTP_Client::Login() {
    Operation operation(*this);
    Byte_Stream& control = operation.Control();
    logged_in_ = false;
    Ftp_Reply reply = Command(control, "USER " + Username, {230, 232, 331});
    if (reply.Code == 331) {
        reply = Command(control, "PASS " + Password, {230, 332});
        if (reply.Code == 332) // an account would be needed, and none is configured
            throw FTP_Error(reply.Code, reply.Joined_Text(), "PASS",
                            Reply_Failure_Kind(reply.Code, "PASS"));
    }
    const Ftp_Reply features = Command(control, "FEAT", {});
    features_.clear();
    if (features.Text.size() > 2)
        features_.assign(features.Text.begin() + 1, features.Text.end() - 1);
    Command(control, "TYPE I", {200});
    logged_in_ = true;
}

std::string FTP_Client::Get_Current_Dir() {
    Operation operation(*this);
    return Parse_PWD(First_Text(Command(operation.Control(), "PWD", {257})));
}

void FTP_Client::Change_Dir_Up() {
    Operation operation(*this);
    Command(operation.Control(), "CDUP", {200, 250});
}

void FTP_Client::Change_Dir(const std::string& name) {
    Operation operation(*this);
    Command(operation.Control(), "CWD " + name, {200, 250});
}

void FTP_Client::Make_Dir(const std::string& name) {
    Operation operation(*this);
    Command(operation.Control(), "MKD " + name, {257});
}

void FTP_Client::List_Dir() {
    Operation operation(*this);
    Byte_Stream& control = operation.Control();
    Command(control, "TYPE A", {200});
    std::string listing;
    try {
        listing = Transfer(control, "LIST", nullptr);
    } catch (...) {
        // Later transfers must not come out in ASCII; the listing's failure is
        // the one to report.
        try {
            if (Is_Connected())
                Command(control, "TYPE I", {200});
        } catch (const FTP_Error&) {
        }
        throw;
    }
    list_result_ = Split_Listing(listing);
    Command(control, "TYPE I", {200});
}

void FTP_Client::Put_File(const std::string& local_path, const std::string& remote_name,
                          bool append) {
    Operation operation(*this);
    Store(operation.Control(), local_path, remote_name, append);
}

void FTP_Client::Status(Ftp_Status status, const std::string& text) noexcept {
    try {
        if (OnStatus)
            OnStatus(status, text);
    } catch (...) {
        // A status text is for show; it must not end a close.
    }
}

} // namespace vistrel
