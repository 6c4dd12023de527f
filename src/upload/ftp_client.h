// The FTP client the pictures travel through: one control connection,
// passive data connections opened by us, binary transfers, in clear or over
// explicit TLS (AUTH TLS, then every data connection protected).
// Every operation blocks its caller until it has finished or failed, and
// fails with FTP_Error. A connection is never used in a state we cannot be
// sure of: after a time-out, or a reply that did not belong to its command,
// it is closed and the next caller connects afresh.
#pragma once

#include "net/name_lookup.h"
#include "net/server_connector.h"
#include "net/tcp_socket.h"
#include "net/tls_stream.h"
#include "upload/ftp_reply.h"
#include "upload/ftp_session.h"
#include "upload/server_address.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vistrel {

enum class Ftp_Status {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    ftpTransfer,
    ftpReady,
    ftpAborted,
};

// Its connect publishes the control socket through the slot, under the
// mutex the client cuts its connections with.
class FTP_Client : public Ftp_Session, private Connect_Slot {
public:
    // What QUIT's and an idle ABOR's replies are given, and the longest a
    // command from another thread may wait to be sent.
    static constexpr Milliseconds kGrace{10};
    // A data connection moving less than this in any Stall_Timeout stalls.
    static constexpr size_t kMin_Progress = 1024;

    FTP_Client();
    ~FTP_Client() override;
    FTP_Client(const FTP_Client&) = delete;
    FTP_Client& operator=(const FTP_Client&) = delete;

    // Settings, read by the next operation; change them only while none runs.
    std::string Host;
    uint16_t Port = 21;
    std::string Username;
    std::string Password;
    Milliseconds Read_Timeout{60000};    // a command and its whole reply
    Milliseconds Stall_Timeout{60000};   // the window of kMin_Progress on a data connection
    Milliseconds Connect_Timeout{15000}; // each connect attempt, control or data
    Milliseconds Lookup_Timeout{10000};  // resolving the host name
    Resolver Name_Resolver = Resolve;    // called on a thread of its own
    bool Encrypted = false;              // AUTH TLS, and nothing in clear after the greeting
    // The fingerprint the user trusts for a server the system does not; empty
    // when none.
    std::function<std::string(const std::string& host, uint16_t port)> Pinned_Certificate;

    // Raised on the thread of the operation (also of Abort_Transfer and
    // Disconnect); it must not call back into the client.
    std::function<void(Ftp_Status, const std::string& text)> OnStatus;

    void Set_Server(const std::string& server) override;
    void Set_Credentials(const std::string& user, const std::string& password) override;

    bool Is_Connected() override;
    // A Login succeeded on the connection now open.
    bool Logged_In() const override;
    void Connect() override;
    void Login() override;
    std::string Get_Current_Dir() override;
    void Change_Dir_Up() override;
    void Change_Dir(const std::string& name) override;
    void Make_Dir(const std::string& name) override;
    void List_Dir() override;
    const std::vector<std::string>& List_Result() const override { return list_result_; }
    void Put_File(const std::string& local_path, const std::string& remote_name,
                  bool append) override;

    // Both may come from another thread while an operation blocks: they cut
    // its connections, so it fails at once, and never wait on it. An abort
    // says ABOR where the server listens, then closes the connection as
    // Disconnect does: what the server answers, and when, is not worth
    // keeping in step with.
    void Abort_Transfer() noexcept override;
    void Disconnect() noexcept override;
    void Close_For_Good() noexcept override;

private:
    class Operation;
    class Local_File;

    // The control socket being connected, under handles_mutex_.
    void Throw_If_Cut() const override;
    void Hold(const std::shared_ptr<Tcp_Socket>& socket) override;
    bool Let_Go(const std::shared_ptr<Tcp_Socket>& socket, bool last) override;

    // What another thread may cut, taken out of the client in one go.
    struct Handles {
        std::shared_ptr<Byte_Stream> control;
        std::shared_ptr<Byte_Stream> data;
    };
    // Under handles_mutex_: the connections are no longer the client's.
    Handles Drop_Handles() noexcept;

    std::shared_ptr<Tcp_Socket> Open_Control();
    void Secure_Control(const std::shared_ptr<Tcp_Socket>& control);
    // Under handles_mutex_: `secured` takes the place of `plain` in
    // `handle`, unless another thread cut it meanwhile.
    void Replace_Handle(std::shared_ptr<Byte_Stream>& handle,
                        const std::shared_ptr<Byte_Stream>& plain,
                        std::shared_ptr<Byte_Stream> secured);
    void Protect_Data(Byte_Stream& control);
    // Runs the data connection's handshake, watching the control connection
    // meanwhile: a server may refuse the transfer instead. Returns the reply
    // that came during the handshake, if any.
    std::optional<Ftp_Reply> Secure_Data(Byte_Stream& control, std::shared_ptr<Byte_Stream>& data,
                                         Deadline deadline);
    // Closes the connection now open, or only `expected` when given.
    void Close_Control(bool owner, const Byte_Stream* expected = nullptr) noexcept;
    // Closes `control` without a word, unless it was already replaced; only
    // the operation's owner may drop what its reader holds.
    void Cut_Control(const Byte_Stream& control, bool owner) noexcept;
    void Throw_If_Ended() const;
    Ftp_Reply Command(Byte_Stream& control, const std::string& line,
                      std::initializer_list<int> accepted);
    void Expect_In_Step(Byte_Stream& control, const std::string& word);
    void Send_Line(Byte_Stream& control, const std::string& line, Deadline deadline);
    Ftp_Reply Receive_Reply(Byte_Stream& control, Deadline deadline);
    [[noreturn]] void Fail_On_Control(Byte_Stream& control, const std::exception& e,
                                      const std::string& word);
    Endpoint Passive_Target(Byte_Stream& control);
    std::string Transfer(Byte_Stream& control, const std::string& command, Local_File* upload);
    void Store(Byte_Stream& control, const std::string& local_path, const std::string& remote_name,
               bool append);
    std::shared_ptr<Tcp_Socket> Open_Data(const Endpoint& target);
    void Close_Data(std::shared_ptr<Byte_Stream>& data);
    [[noreturn]] void Fail_Transfer(Byte_Stream& control, std::shared_ptr<Byte_Stream>& data,
                                    const std::string& message, const std::string& word);
    void Status(Ftp_Status status, const std::string& text) noexcept;

    // Held by the operation in progress. Abort_Transfer and Disconnect only
    // try it: when they get it nobody else reads the control connection.
    std::mutex operation_mutex_;

    // Guards the handles and flags below, the only state another thread
    // touches; held for moments, never across a wait.
    mutable std::mutex handles_mutex_;
    std::shared_ptr<Byte_Stream> control_; // a thread in a wait holds its own copy
    std::shared_ptr<Byte_Stream> data_;
    Server_Connector connector_{handles_mutex_}; // a host name being resolved
    bool ended_ = false;                         // Close_For_Good was called
    bool aborted_ = false;                       // Abort_Transfer cut the data connection
    std::atomic<bool> logged_in_{false};

    // The operation in progress only.
    Line_Reader control_lines_;
    std::shared_ptr<const Tls_Context> tls_context_; // of the connection now open
    std::shared_ptr<Tls_Session_Slot> tls_sessions_;
    std::string server_fingerprint_; // what every data connection must show too
    bool data_protected_ = false;    // PROT P was accepted on this connection
    std::vector<std::string> features_;
    std::vector<std::string> list_result_;
};

} // namespace vistrel
