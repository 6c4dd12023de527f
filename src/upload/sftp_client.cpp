#include "upload/sftp_client.h"

#include "base/file_helpers.h"
#include "net/name_lookup.h"
#include "upload/ftp_client.h"
#include "upload/server_address.h"
#include "upload/server_trust.h"
#include "upload/sftp_handles.h"
#include "upload/sftp_status.h"
#include "upload/ssh_agent_socket.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vistrel {

namespace {

// libssh's own limit, a backstop that must come after the watchdog's: where
// libssh gives up first, a silent server reads as a refused login or request.
long Backstop_Seconds(Milliseconds limit) {
    return std::max<long>(1, static_cast<long>((limit.count() + 999) / 1000)) + 5;
}

// What the server's own answer to the last request says of the picture; a
// session that was cut or lost tells nothing about it. A template, as the
// session's type is the client's own.
template <class Ssh_Session> Failure_Kind Answer_Kind(const Ssh_Session& s) {
    if (s.dead || ssh_is_connected(s.ssh) != 1 || s.sftp == nullptr)
        return Failure_Kind::Connection;
    return Sftp_Status_Failure_Kind(sftp_get_error(s.sftp));
}

} // namespace

Host_Key_Error::Host_Key_Error(Host_Key_Problem problem, std::string host, uint16_t port,
                               std::string key_type, std::string fingerprint,
                               std::string known_hosts_entry)
    : FTP_Error(0,
                problem == Host_Key_Problem::Unknown
                    ? "The server's host key is unknown; run the connection test to trust it"
                    : "The server's host key has changed; it is refused",
                {}, Failure_Kind::Server_Refused),
      problem_(problem), host_(std::move(host)), port_(port), key_type_(std::move(key_type)),
      fingerprint_(std::move(fingerprint)), entry_(std::move(known_hosts_entry)) {}

void Trust_Host_Key(const std::string& known_hosts_file, const Host_Key_Error& refused) {
    std::string content = Read_Whole_File(known_hosts_file).value_or("");
    if (!content.empty() && content.back() != '\n')
        content += '\n';
    content += refused.Known_Hosts_Entry();
    if (content.back() != '\n')
        content += '\n';
    Write_File_Atomically(known_hosts_file, content, 0600);
}

// One SSH connection and its SFTP channel, released in that order.
struct SFTP_Client::Session {
    // Connected by us, so that a close can cut the name lookup, the connect
    // and the key exchange too; libssh talks over a duplicate of its
    // descriptor, and this one stays open until the session is released, so
    // a cut never reaches a descriptor that was reused.
    std::shared_ptr<Tcp_Socket> tcp; // first: released last
    // The SSH agent, reached the same way and for the same reason.
    std::unique_ptr<Agent_Socket> agent;
    ssh_callbacks_struct callbacks{};
    ssh_session ssh = ssh_new();
    sftp_session sftp = nullptr;
    std::atomic<bool> dead{false}; // cut from another thread: only releasing is left

    Session() {
        if (ssh == nullptr)
            throw FTP_Error(0, "cannot make an SSH session");
        Never_Prompt_On(ssh, callbacks);
    }
    ~Session() {
        if (sftp != nullptr)
            sftp_free(sftp);
        ssh_disconnect(ssh);
        ssh_free(ssh);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    [[noreturn]] void Fail(const std::string& what) const {
        std::string why = ssh_get_error(ssh);
        if (sftp != nullptr && sftp_get_error(sftp) != SSH_FX_OK)
            why += (why.empty() ? "" : "; ") + std::string("SFTP error ") +
                   std::to_string(sftp_get_error(sftp));
        throw FTP_Error(0, what + (why.empty() ? "" : ": " + why));
    }
};

SFTP_Client::SFTP_Client() = default;

SFTP_Client::~SFTP_Client() {
    Cut();
}

void SFTP_Client::Set_Server(const std::string& server) {
    const Server_Address address = Parse_Server(server);
    Host = address.Host;
    Port = address.Protocol == Transfer_Protocol::Sftp ? address.Port : 22;
}

void SFTP_Client::Set_Credentials(const std::string& user, const std::string& password) {
    Username = user;
    Password = password;
}

void SFTP_Client::Status(const std::string& text) {
    if (OnStatus)
        OnStatus(text);
}

bool SFTP_Client::Is_Connected() {
    return session_ && !session_->dead && ssh_is_connected(session_->ssh) == 1;
}

bool SFTP_Client::Logged_In() const {
    return logged_in_ && session_ && !session_->dead;
}

SFTP_Client::Session& SFTP_Client::Open_Session() {
    if (!Is_Connected())
        throw FTP_Error(0, "not connected");
    return *session_;
}

void SFTP_Client::Connect() {
    if (closed_for_good_)
        throw FTP_Error(0, "the program is closing");
    Disconnect();
    logged_in_ = false;
    folder_.clear();
    try {
        Open_Connection();
    } catch (const std::exception& e) {
        Status(e.what());
        Disconnect();
        throw;
    }
    Status("Connected.");
}

void SFTP_Client::Open_Connection() {
    {
        std::lock_guard lock(cut_mutex_);
        session_.reset();
        session_ = std::make_unique<Session>();
    }
    Session& s = *session_;
    Status("Connecting to " + Host + ".");
    std::vector<Endpoint> endpoints;
    try {
        endpoints = connector_.Look_Up(Resolve, Host, Port, Lookup_Timeout, *this);
    } catch (const Socket_Error& e) {
        throw FTP_Error(0, "cannot find " + Host + ": " + e.what());
    }
    try {
        connector_.Connect(Host, endpoints, Connect_Timeout, *this, {});
    } catch (const Socket_Error& e) {
        throw FTP_Error(0, "cannot connect to " + Host_And_Port(Host, Port) + ": " + e.what());
    }

    // Each SFTP request waits for its answer: small writes must not wait
    // for the peer's delayed acknowledgement. libssh's own option for it
    // only acts on connections libssh makes itself.
    s.tcp->Send_Without_Delay();
    ssh_session ssh = s.ssh;
    socket_t fd = ::dup(s.tcp->Descriptor());
    if (fd < 0)
        throw FTP_Error(0, "cannot connect to " + Host_And_Port(Host, Port));
    ssh_options_set(ssh, SSH_OPTIONS_FD, &fd); // closed by libssh with the session
    const unsigned int port = Port;
    const long connect_seconds = Backstop_Seconds(Connect_Timeout);
    const bool no_config = false;
    ssh_options_set(ssh, SSH_OPTIONS_HOST, Host.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
    if (!Username.empty())
        ssh_options_set(ssh, SSH_OPTIONS_USER, Username.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &connect_seconds);
    // The program's own known_hosts only: the user's and the system's are
    // other programs' decisions.
    ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, Known_Hosts_File.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null");
    ssh_options_set(ssh, SSH_OPTIONS_PROCESS_CONFIG, &no_config);
    Waiting greeting(watchdog_, Connect_Timeout,
                     "no SSH greeting and key exchange from " + Host_And_Port(Host, Port));
    const int connected = ssh_connect(ssh);
    greeting.Answered();
    if (connected != SSH_OK)
        s.Fail("cannot talk SSH with " + Host_And_Port(Host, Port));
    Check_Host_Key();
    const long reply_seconds = Backstop_Seconds(std::max(Read_Timeout, Stall_Timeout));
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &reply_seconds);
}

void SFTP_Client::Throw_If_Cut() const {
    if (closed_for_good_ || (session_ && session_->dead))
        throw Socket_Error("the lookup of " + Host + " was abandoned");
}

void SFTP_Client::Hold(const std::shared_ptr<Tcp_Socket>& socket) {
    session_->tcp = socket;
    if (closed_for_good_ || session_->dead)
        socket->Shutdown();
}

bool SFTP_Client::Let_Go(const std::shared_ptr<Tcp_Socket>&, bool) {
    session_->tcp.reset();
    return closed_for_good_ || session_->dead;
}

void SFTP_Client::Check_Host_Key() {
    ssh_session ssh = session_->ssh;
    const ssh_known_hosts_e known = ssh_session_is_known_server(ssh);
    if (known == SSH_KNOWN_HOSTS_OK)
        return;
    if (known == SSH_KNOWN_HOSTS_ERROR)
        throw FTP_Error(0, "cannot read the known hosts file " + Known_Hosts_File);
    ssh_key raw_key = nullptr;
    if (ssh_get_server_publickey(ssh, &raw_key) != SSH_OK)
        session_->Fail("cannot read the server's host key");
    const Ssh_Key key(raw_key);
    unsigned char* hash = nullptr;
    size_t hash_length = 0;
    std::string fingerprint;
    if (ssh_get_publickey_hash(key.get(), SSH_PUBLICKEY_HASH_SHA256, &hash, &hash_length) == 0) {
        const Ssh_Text text(ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hash_length));
        ssh_clean_pubkey_hash(&hash);
        if (text)
            fingerprint = text.get();
    }
    const char* type = ssh_key_type_to_char(ssh_key_type(key.get()));
    char* raw_entry = nullptr;
    std::string entry;
    if (ssh_session_export_known_hosts_entry(ssh, &raw_entry) == SSH_OK && raw_entry != nullptr) {
        entry = raw_entry;
        ssh_string_free_char(raw_entry);
    }
    if (entry.empty() || fingerprint.empty())
        session_->Fail("cannot read the server's host key");
    const Host_Key_Problem problem =
        known == SSH_KNOWN_HOSTS_CHANGED || known == SSH_KNOWN_HOSTS_OTHER
            ? Host_Key_Problem::Changed
            : Host_Key_Problem::Unknown;
    // Nothing more goes to a server whose key is not trusted.
    Disconnect();
    Host_Key_Error refused(problem, Host, Port, type ? type : "unknown", fingerprint, entry);
    Status(refused.what());
    throw refused;
}

void SFTP_Client::Login() {
    try {
        Authenticate();
    } catch (const std::exception& e) {
        Status(e.what());
        throw;
    }
    Status("Logged in.");
}

void SFTP_Client::Authenticate() {
    Session& s = Open_Session();
    if (Password.empty())
        Open_Agent();
    // The agent may be waiting for a PIN: the limit holds for it as well.
    const int result = Ask("the login (from the server or the SSH agent)", [&] {
        const Sigpipe_Held agent_may_be_cut;
        return Password.empty() ? ssh_userauth_publickey_auto(s.ssh, nullptr, nullptr)
                                : ssh_userauth_password(s.ssh, nullptr, Password.c_str());
    });
    if (result != SSH_AUTH_SUCCESS) {
        if (s.dead || ssh_is_connected(s.ssh) != 1)
            s.Fail("the connection was lost while logging in");
        throw FTP_Error(0,
                        Password.empty() ? "no key of the user's was accepted"
                                         : "the user name or the password was refused",
                        "PASS", Failure_Kind::Server_Refused);
    }
    // Kept by the session at once, so that a late answer leaves nothing behind.
    const bool opened =
        Ask("the SFTP channel's opening", [&] { return (s.sftp = sftp_new(s.ssh)) != nullptr; });
    if (!opened || Ask("INIT", [&] { return sftp_init(s.sftp); }) != SSH_OK)
        s.Fail("the server offers no SFTP");
    const Ssh_Text home(
        Ask("REALPATH", [&] { return Ssh_Text(sftp_canonicalize_path(s.sftp, ".")); }));
    if (!home)
        s.Fail("cannot find the login directory");
    login_dir_ = home.get();
    if (login_dir_.empty() || login_dir_.back() != '/')
        login_dir_ += '/';
    folder_.clear();
    logged_in_ = true;
}

void SFTP_Client::Open_Agent() {
    Session& s = *session_;
    const std::string path = Agent_Socket_Path();
    if (path.empty())
        return; // libssh reads the same variable: it finds no agent either
    {
        std::lock_guard lock(cut_mutex_);
        s.agent = std::make_unique<Agent_Socket>();
        if (closed_for_good_ || s.dead)
            s.agent->Shutdown();
    }
    // libssh closes what it is given with the session; ours stays open
    // until the session is released, for the same reason as the TCP one.
    const int handed = s.agent->Connect_For_Library(path, After(Connect_Timeout));
    if (handed >= 0 && ssh_set_agent_socket(s.ssh, handed) != SSH_OK)
        ::close(handed);
}

std::string SFTP_Client::Remote_Path(const std::string& name) const {
    return login_dir_ + (folder_.empty() ? "" : folder_ + "/") + name;
}

std::string SFTP_Client::Get_Current_Dir() {
    Open_Session();
    return "/" + folder_;
}

void SFTP_Client::Change_Dir_Up() {
    Open_Session();
    folder_.clear();
}

void SFTP_Client::Change_Dir(const std::string& name) {
    Session& s = Open_Session();
    const Sftp_Attributes found(Ask(
        "STAT", [&] { return Sftp_Attributes(sftp_stat(s.sftp, (login_dir_ + name).c_str())); }));
    if (!found || found->type != SSH_FILEXFER_TYPE_DIRECTORY)
        throw FTP_Error(0, "no folder " + name + " in the login directory", "CWD",
                        found ? Failure_Kind::Refused : Answer_Kind(s));
    folder_ = name;
}

void SFTP_Client::Make_Dir(const std::string& name) {
    Session& s = Open_Session();
    if (Ask("MKDIR", [&] { return sftp_mkdir(s.sftp, Remote_Path(name).c_str(), 0755); }) != 0)
        throw FTP_Error(0, "cannot make the folder " + name, "MKD", Answer_Kind(s));
}

void SFTP_Client::List_Dir() {
    Session& s = Open_Session();
    list_result_.clear();
    const std::string path = folder_.empty() ? login_dir_ : login_dir_ + folder_;
    Sftp_Dir dir(Ask("OPENDIR", [&] { return Sftp_Dir(sftp_opendir(s.sftp, path.c_str())); }));
    if (!dir)
        s.Fail("cannot list " + path);
    while (const Sftp_Attributes entry{
        Ask("READDIR", [&] { return Sftp_Attributes(sftp_readdir(s.sftp, dir.get())); })}) {
        // The listing rule reads Unix long lines: what matters is the kind
        // and the name after the eight fields.
        const bool folder = entry->type == SSH_FILEXFER_TYPE_DIRECTORY;
        list_result_.push_back(std::string(folder ? "d" : "-") +
                               "rwxr-xr-x 1 user group 0 Jan 1 00:00 " +
                               (entry->name ? entry->name : ""));
    }
    const bool complete = sftp_dir_eof(dir.get()) == 1;
    Ask("CLOSE", [&] { return sftp_closedir(dir.release()); });
    if (!complete)
        s.Fail("the listing of " + path + " broke off");
}

void SFTP_Client::Put_File(const std::string& local_path, const std::string& remote_name,
                           bool append) {
    Session& s = Open_Session();
    const int local = ::open(local_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (local < 0) {
        const int error = errno;
        throw FTP_Error(0, "cannot read " + local_path + ": " + std::strerror(error), {},
                        error == ENOENT || error == ENOTDIR ? Failure_Kind::Local_File_Gone
                                                            : Failure_Kind::Connection);
    }
    struct Local_Closer {
        int fd;
        ~Local_Closer() { ::close(fd); }
    } closer{local};

    // A picture is written beside its name and renamed into place, so that
    // a program watching the folder never reads half of one.
    const std::string target = Remote_Path(remote_name);
    const std::string written = append ? target : target + ".part";
    Status("Transferring: " + remote_name);
    Sftp_File remote(Ask("OPEN", [&] {
        return Sftp_File(sftp_open(s.sftp, written.c_str(),
                                   O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644));
    }));
    if (!remote) {
        // Only the server's own refusal of this file counts against the
        // picture, as a 5xx answer to STOR does; a lost or silent connection
        // does not.
        if (const Failure_Kind kind = Answer_Kind(s); kind != Failure_Kind::Connection)
            throw FTP_Error(0, "the server refuses to write " + written, "STOR", kind);
        Disconnect();
        throw FTP_Error(0, "cannot write " + written);
    }
    char buffer[32768];
    bool ok = true;
    bool read_failed = false;
    std::string failure;
    for (;;) {
        const ssize_t got = ::read(local, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ok = false;
            read_failed = true;
            failure = "cannot read " + local_path;
            break;
        }
        if (got == 0)
            break;
        // Each piece waits for the server's acknowledgement at most the
        // stall limit: a server that takes longer has stalled.
        if (Within(watchdog_, Stall_Timeout, "WRITE", [&] {
                return sftp_write(remote.get(), buffer, static_cast<size_t>(got));
            }) != got) {
            ok = false;
            failure = "the transfer of " + remote_name + " broke off or stalled";
            break;
        }
    }
    if (Ask("CLOSE", [&] { return sftp_close(remote.release()); }) != SSH_NO_ERROR && ok) {
        ok = false;
        failure = "the server did not take " + remote_name;
    }
    if (ok && !append) {
        // libssh offers no posix-rename: a picture of the same name, rare,
        // is removed first, so the rename cannot fail on it.
        Ask("REMOVE", [&] { return sftp_unlink(s.sftp, target.c_str()); });
        if (Ask("RENAME", [&] { return sftp_rename(s.sftp, written.c_str(), target.c_str()); }) !=
            0) {
            ok = false;
            failure = "cannot rename " + remote_name + ".part into place";
        }
    }
    if (!ok) {
        // A local read error is no answer of the server's.
        const Failure_Kind kind = read_failed ? Failure_Kind::Connection : Answer_Kind(s);
        const bool refused = kind != Failure_Kind::Connection;
        if (refused && !append)
            Ask("REMOVE", [&] { return sftp_unlink(s.sftp, written.c_str()); });
        Status("Transfer aborted.");
        // A session a write broke off in is out of step: the next run starts
        // a new one.
        if (!refused)
            Disconnect();
        throw FTP_Error(0, failure, "STOR", kind);
    }
    Status("Transfer complete.");
}

void SFTP_Client::Cut_Locked() noexcept {
    connector_.Abandon_Locked();
    if (!session_)
        return;
    session_->dead = true;
    if (session_->tcp)
        session_->tcp->Shutdown();
    if (session_->agent)
        session_->agent->Shutdown();
}

void SFTP_Client::Cut() noexcept {
    std::lock_guard lock(cut_mutex_);
    Cut_Locked();
}

void SFTP_Client::Abort_Transfer() noexcept {
    Cut();
}

void SFTP_Client::Disconnect() noexcept {
    // From any thread: the socket is shut, and the session is released by
    // the next connect or by the client's end, on the thread that owns it.
    Cut();
    logged_in_ = false;
}

void SFTP_Client::Close_For_Good() noexcept {
    closed_for_good_ = true;
    Cut();
}

} // namespace vistrel
