// The SFTP session under the upload worker and the connection test, through
// libssh: the same operations as the FTP client, on an SSH server. Folders
// live in the login directory (moving up from there would leave the user's
// home), each picture is written as NAME.part and renamed into place, and
// the server's host key must be in the program's own known_hosts file.
#pragma once

#include "net/server_connector.h"
#include "net/tcp_socket.h"
#include "upload/ftp_session.h"
#include "upload/ssh_deadline.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vistrel {

// The SFTP servers' host keys the user trusts, in the data folder, in
// OpenSSH's format.
inline constexpr const char* kKnown_Hosts_File_Name = "known_hosts";

enum class Host_Key_Problem {
    Unknown, // not in known_hosts: the connection test may trust it
    Changed, // another key is known for the server: refused
};

// A server whose host key is not to be trusted: nothing was sent to it.
class Host_Key_Error : public FTP_Error {
public:
    Host_Key_Error(Host_Key_Problem problem, std::string host, uint16_t port, std::string key_type,
                   std::string fingerprint, std::string known_hosts_entry);

    Host_Key_Problem Problem() const { return problem_; }
    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }
    const std::string& Key_Type() const { return key_type_; }
    const std::string& Fingerprint() const { return fingerprint_; } // "SHA256:..." as ssh shows it
    // The line that trusting the key adds to known_hosts.
    const std::string& Known_Hosts_Entry() const { return entry_; }

private:
    Host_Key_Problem problem_;
    std::string host_;
    uint16_t port_;
    std::string key_type_;
    std::string fingerprint_;
    std::string entry_;
};

// Adds the refused key's line to the known_hosts file (owner-only, written in
// one step). Throws std::system_error when it cannot be written.
void Trust_Host_Key(const std::string& known_hosts_file, const Host_Key_Error& refused);

// Its connect publishes the TCP socket through the slot, under the mutex the
// client cuts its session with.
class SFTP_Client : public Ftp_Session, private Connect_Slot {
public:
    SFTP_Client();
    ~SFTP_Client() override;
    SFTP_Client(const SFTP_Client&) = delete;
    SFTP_Client& operator=(const SFTP_Client&) = delete;

    std::string Host;
    uint16_t Port = 22;
    std::string Username;
    std::string Password; // empty: the SSH agent and ~/.ssh/id_* keys
    std::string Known_Hosts_File;
    Milliseconds Lookup_Timeout{10000}; // resolving the host name
    // The TCP connect and the key exchange; the connect to the SSH agent.
    Milliseconds Connect_Timeout{15000};
    // Any answer of the server; the whole login, the SSH agent's part too.
    Milliseconds Read_Timeout{60000};
    // The longest one piece of a transfer (32 KiB) may wait for the
    // server's acknowledgement.
    Milliseconds Stall_Timeout{60000};
    // The status texts, raised on the thread of the operation.
    std::function<void(const std::string& text)> OnStatus;

    void Set_Server(const std::string& server) override;
    void Set_Credentials(const std::string& user, const std::string& password) override;

    bool Is_Connected() override;
    bool Logged_In() const override;
    void Connect() override;
    void Login() override;
    // "/" in the login directory, "/NAME" in one of its folders.
    std::string Get_Current_Dir() override;
    // Back to the login directory.
    void Change_Dir_Up() override;
    void Change_Dir(const std::string& name) override;
    void Make_Dir(const std::string& name) override;
    // Long-listing lines of the current folder's entries.
    void List_Dir() override;
    const std::vector<std::string>& List_Result() const override { return list_result_; }
    void Put_File(const std::string& local_path, const std::string& remote_name,
                  bool append) override;
    void Abort_Transfer() noexcept override;
    void Disconnect() noexcept override;
    void Close_For_Good() noexcept override;

private:
    struct Session;
    // The TCP socket being connected, under cut_mutex_.
    void Throw_If_Cut() const override;
    void Hold(const std::shared_ptr<Tcp_Socket>& socket) override;
    bool Let_Go(const std::shared_ptr<Tcp_Socket>& socket, bool last) override;
    void Status(const std::string& text);
    void Open_Connection();
    void Check_Host_Key();
    void Authenticate();
    void Open_Agent();
    // One request and its reply under the reply limit.
    template <typename Call> auto Ask(const char* request, Call call) {
        return Within(watchdog_, Read_Timeout, request, std::move(call));
    }
    void Cut() noexcept;
    void Cut_Locked() noexcept;
    Session& Open_Session();
    std::string Remote_Path(const std::string& name) const;

    std::unique_ptr<Session> session_;
    // Guards session_ and the lookup being replaced against a cut from
    // another thread.
    std::mutex cut_mutex_;
    Server_Connector connector_{cut_mutex_};
    std::atomic<bool> closed_for_good_{false};
    std::atomic<bool> logged_in_{false};
    std::string login_dir_;
    std::string folder_; // the folder entered below the login directory, or ""
    std::vector<std::string> list_result_;
    // Cuts the session when a request to the server outlives its limit.
    // Last: its thread, which reaches the members above, ends first.
    Watchdog watchdog_{[this] { Cut(); }};
};

} // namespace vistrel
