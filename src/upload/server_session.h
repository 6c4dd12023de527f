// The session the worker and the connection test use: FTP and FTPS through
// the FTP client, SFTP through the SFTP client, as the server field says at
// each Set_Server.
#pragma once

#include "upload/ftp_client.h"
#include "upload/sftp_client.h"

#include <atomic>

namespace vistrel {

class Server_Session : public Ftp_Session {
public:
    FTP_Client Ftp;
    SFTP_Client Sftp;

    void Set_Server(const std::string& server) override;
    void Set_Credentials(const std::string& user, const std::string& password) override {
        Ftp.Set_Credentials(user, password);
        Sftp.Set_Credentials(user, password);
    }
    bool Is_Connected() override { return Current().Is_Connected(); }
    bool Logged_In() const override { return Current().Logged_In(); }
    void Connect() override { Current().Connect(); }
    void Login() override { Current().Login(); }
    std::string Get_Current_Dir() override { return Current().Get_Current_Dir(); }
    void Change_Dir_Up() override { Current().Change_Dir_Up(); }
    void Change_Dir(const std::string& name) override { Current().Change_Dir(name); }
    void Make_Dir(const std::string& name) override { Current().Make_Dir(name); }
    void List_Dir() override { Current().List_Dir(); }
    const std::vector<std::string>& List_Result() const override { return Current().List_Result(); }
    void Put_File(const std::string& local_path, const std::string& remote_name,
                  bool append) override {
        Current().Put_File(local_path, remote_name, append);
    }
    // Both: a cut from another thread must reach whichever is busy.
    void Abort_Transfer() noexcept override {
        Ftp.Abort_Transfer();
        Sftp.Abort_Transfer();
    }
    void Disconnect() noexcept override {
        Ftp.Disconnect();
        Sftp.Disconnect();
    }
    void Close_For_Good() noexcept override {
        Ftp.Close_For_Good();
        Sftp.Close_For_Good();
    }

private:
    Ftp_Session& Current() { return sftp_ ? static_cast<Ftp_Session&>(Sftp) : Ftp; }
    const Ftp_Session& Current() const {
        return sftp_ ? static_cast<const Ftp_Session&>(Sftp) : Ftp;
    }
    std::atomic<bool> sftp_{false};
};

} // namespace vistrel
