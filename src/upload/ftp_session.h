// What the upload worker and the connection test need of an FTP client, so
// that their logic can be driven without a server.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace vistrel {

// What a failure means for the picture being sent, whatever the protocol.
enum class Failure_Kind {
    // The connection could not be made, broke or timed out, or the server
    // asked to try later: the picture is tried again.
    Connection,
    // The server's final no to this picture or to its folder (a name it does
    // not allow, a plain file where the folder should be, no right, quota):
    // counted against the picture.
    Refused,
    // The server refuses us rather than the picture (a certificate or host
    // key we do not trust, the login, the protection of the data): nothing
    // will go until the settings change, so the next tries are spaced out.
    Server_Refused,
    // The picture's own file cannot be read any more.
    Local_File_Gone,
};

// A failed FTP operation: the server's reply code and text, or code 0 for a
// local failure (no connection, time-out, broken connection, unreadable file).
class FTP_Error : public std::runtime_error {
public:
    FTP_Error(int code, const std::string& message, std::string command = {},
              Failure_Kind kind = Failure_Kind::Connection)
        : std::runtime_error(message), code_(code), command_(std::move(command)), kind_(kind) {}

    int Code() const { return code_; }
    // The command whose reply failed ("STOR", "MKD", ...); empty when none.
    const std::string& Command() const { return command_; }
    Failure_Kind Kind() const { return kind_; }

private:
    int code_;
    std::string command_;
    Failure_Kind kind_;
};

class Ftp_Session {
public:
    virtual ~Ftp_Session() = default;

    // "host" or "host:port"; the user name and password for the next login.
    virtual void Set_Server(const std::string& server) = 0;
    virtual void Set_Credentials(const std::string& user, const std::string& password) = 0;

    virtual bool Is_Connected() = 0;
    virtual bool Logged_In() const = 0;
    virtual void Connect() = 0;
    virtual void Login() = 0;
    virtual std::string Get_Current_Dir() = 0;
    virtual void Change_Dir_Up() = 0;
    virtual void Change_Dir(const std::string& name) = 0;
    virtual void Make_Dir(const std::string& name) = 0;
    virtual void List_Dir() = 0;
    virtual const std::vector<std::string>& List_Result() const = 0;
    virtual void Put_File(const std::string& local_path, const std::string& remote_name,
                          bool append) = 0;
    // Both may be called from another thread while an operation blocks, and
    // make it fail at once. Neither throws: they run when the program closes.
    virtual void Abort_Transfer() noexcept = 0;
    virtual void Disconnect() noexcept = 0;
    // The program is ending: whatever is under way (a lookup, a connect, a
    // wait for the server) fails at once, and so does every later operation.
    virtual void Close_For_Good() noexcept = 0;
};

} // namespace vistrel
