// What the upload worker and the connection test need of an FTP client, so
// that their logic can be driven without a server.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace vistrel {

// A failed FTP operation: the server's reply code and text, or code 0 for a
// local failure (no connection, time-out, broken connection, unreadable file).
class FTP_Error : public std::runtime_error {
public:
    FTP_Error(int code, const std::string& message, std::string command = {})
        : std::runtime_error(message), code_(code), command_(std::move(command)) {}

    int Code() const { return code_; }
    // The command whose reply failed ("STOR", "MKD", ...); empty when none.
    const std::string& Command() const { return command_; }

private:
    int code_;
    std::string command_;
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
