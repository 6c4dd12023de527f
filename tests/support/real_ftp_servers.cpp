#include "support/real_ftp_servers.h"

#include "support/fake_ftp_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vistrel::test {

namespace {

// The user the servers log in, "daemon": every Debian system has it, with a
// home folder that exists, which vsftpd enters before the served folder.
constexpr uid_t kServed_User = 1;
constexpr const char* kPam_Service = "vistrel-test-ftps";

bool Accepts(uint16_t port) {
    const Unique_Fd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void Write_Text(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

// The folder served, owned by the user the server logs in.
std::filesystem::path Make_Root(const Temp_Dir& dir) {
    const std::filesystem::path root = dir.Path() / "root";
    std::filesystem::create_directories(root);
    if (::chown(root.c_str(), kServed_User, kServed_User) != 0)
        throw std::runtime_error("cannot give the served folder to its user");
    // The way down to it must be open to that user too.
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    return root;
}

// vsftpd checks local passwords through PAM only: a service of the tests'
// own lets exactly kUser in with kPassword, from a Berkeley DB file in the
// unpacked servers' folder. The check must not start a process: vsftpd
// keeps the SIGCHLD of a PAM helper pending and, after login, waits for one
// of its own children to end at the first request to its helper, so PASV
// would never be answered.
void Ensure_Pam_Service(const std::filesystem::path& servers) {
    const std::filesystem::path users = servers / "vistrel-ftp-users";
    const std::string service = "auth required pam_userdb.so db=" + users.string() +
                                "\naccount required pam_permit.so\n"
                                "session required pam_permit.so\n";
    // Written whole beside the target and renamed: tests running side by
    // side never see half a file.
    const auto part_of = [](const std::filesystem::path& target) {
        return std::filesystem::path(target.string() + ".part" + std::to_string(::getpid()));
    };
    const std::filesystem::path database = users.string() + ".db";
    if (!std::filesystem::exists(database)) {
        const std::filesystem::path part = part_of(database);
        // Perl's DB_File writes the hash file pam_userdb reads.
        const std::string command =
            "perl -MDB_File -MFcntl -e 'tie my %h, \"DB_File\", $ARGV[0], O_RDWR|O_CREAT, 0600, "
            "$DB_HASH or die \"$!\"; $h{$ARGV[1]} = $ARGV[2]; untie %h' '" +
            part.string() + "' '" + Real_Ftp_Server::kUser + "' '" + Real_Ftp_Server::kPassword +
            "'";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("cannot write the FTP test users' database");
        std::filesystem::rename(part, database);
    }
    const std::filesystem::path target = std::filesystem::path("/etc/pam.d") / kPam_Service;
    if (Bytes_Of(target) != service) {
        const std::filesystem::path part = part_of(target);
        Write_Text(part, service);
        using std::filesystem::perms;
        std::filesystem::permissions(part, perms::owner_read | perms::owner_write |
                                               perms::group_read | perms::others_read);
        std::filesystem::rename(part, target);
    }
}

class Vsftpd : public Real_Ftp_Server {
public:
    Vsftpd(const std::filesystem::path& servers, const std::filesystem::path& certificate) {
        Ensure_Pam_Service(servers);
        root_ = Make_Root(dir_);
        const std::filesystem::path empty = dir_.Path() / "empty";
        std::filesystem::create_directories(empty);
        log_ = dir_.Path() / "vsftpd.log";
        port_ = Unused_Port();
        const std::filesystem::path config = dir_.Path() / "vsftpd.conf";
        Write_Text(config, "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                           "listen_port=" +
                               std::to_string(port_) +
                               "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\n"
                               "write_enable=YES\nlocal_umask=022\nchroot_local_user=YES\n"
                               "allow_writeable_chroot=YES\nlocal_root=" +
                               root_.string() + "\npam_service_name=" + kPam_Service +
                               "\nsecure_chroot_dir=" + empty.string() +
                               "\nseccomp_sandbox=NO\nssl_enable=YES\nrsa_cert_file=" +
                               certificate.string() +
                               "\nrsa_private_key_file=" + certificate.string() +
                               "\nrequire_ssl_reuse=YES\nforce_local_logins_ssl=YES\n"
                               "force_local_data_ssl=YES\nssl_ciphers=HIGH\n"
                               "vsftpd_log_file=" +
                               log_.string() +
                               "\nlog_ftp_protocol=YES\nsyslog_enable=NO\n"
                               "delay_failed_login=0\n");
        process_ = std::make_unique<Server_Process>(
            std::vector<std::string>{(servers / "usr/sbin/vsftpd").string(), config.string()},
            dir_.Path() / "vsftpd.out");
        if (!process_->Wait_Until_Listening(port_))
            throw std::runtime_error("vsftpd did not start: " + Log());
    }
    std::string Name() const override { return "vsftpd"; }
};

class Proftpd : public Real_Ftp_Server {
public:
    Proftpd(const std::filesystem::path& servers, const std::filesystem::path& certificate) {
        root_ = Make_Root(dir_);
        log_ = dir_.Path() / "proftpd.log";
        port_ = Unused_Port();
        const std::filesystem::path& dir = dir_.Path();
        Write_Text(dir / "passwd", std::string(kUser) +
                                       ":$6$vistrel$YwGIC1bbc70.HoAkboYynp2s9O98MqLmU."
                                       "9OrdQdGZLzWBeXUZickTuNfbceTJdtAScc55L3IBggI7twxkbQD.:"
                                       "1:1::" +
                                       root_.string() + ":/bin/sh\n");
        Write_Text(dir / "group", "daemon:x:1:\n");
        // proftpd refuses account files others can read.
        std::filesystem::permissions(dir / "passwd", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_write);
        std::filesystem::permissions(dir / "group", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
        const std::filesystem::path config = dir / "proftpd.conf";
        Write_Text(config,
                   "ServerType standalone\nDefaultServer on\nUseIPv6 off\n"
                   "DefaultAddress 127.0.0.1\nSocketBindTight on\nPort " +
                       std::to_string(port_) + "\nUser nobody\nGroup nogroup\nScoreboardFile " +
                       (dir / "scoreboard").string() + "\nPidFile " +
                       (dir / "proftpd.pid").string() + "\nDelayTable " + (dir / "delay").string() +
                       "\nWtmpLog off\nTransferLog none\nSystemLog " + log_.string() +
                       "\nUseReverseDNS off\nAuthOrder mod_auth_file.c\n"
                       "AuthUserFile " +
                       (dir / "passwd").string() + "\nAuthGroupFile " + (dir / "group").string() +
                       "\nRequireValidShell off\nDefaultRoot ~\nAllowOverwrite on\n"
                       "ModulePath " +
                       (servers / "usr/lib/proftpd").string() +
                       "\nLoadModule mod_tls.c\nTLSEngine on\n"
                       "TLSProtocol TLSv1.2 TLSv1.3\nTLSRequired on\n"
                       "TLSRSACertificateFile " +
                       certificate.string() + "\nTLSRSACertificateKeyFile " + certificate.string() +
                       "\nTLSVerifyClient off\nTLSLog " + (dir / "tls.log").string() + "\n");
        process_ = std::make_unique<Server_Process>(
            std::vector<std::string>{(servers / "usr/sbin/proftpd").string(), "-n", "-q", "-c",
                                     config.string()},
            dir / "proftpd.out");
        if (!process_->Wait_Until_Listening(port_))
            throw std::runtime_error("proftpd did not start: " + Log() +
                                     Bytes_Of(dir / "proftpd.out"));
    }
    std::string Name() const override { return "proftpd"; }
};

} // namespace

Server_Process::Server_Process(const std::vector<std::string>& argv,
                               const std::filesystem::path& log) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int spawned = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

Server_Process::~Server_Process() {
    if (pid_ <= 0)
        return;
    // The whole server goes, its session processes too: they share no group
    // with us, so each is found by its parent.
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

bool Server_Process::Wait_Until_Listening(uint16_t port) const {
    for (int i = 0; i < 250; ++i) {
        if (Accepts(port))
            return true;
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string Real_Ftp_Server::Log() const {
    return Bytes_Of(log_);
}

std::filesystem::path Unpacked_Servers() {
    const char* folder = std::getenv("VISTREL_FTP_SERVERS");
    return folder != nullptr ? std::filesystem::path(folder)
                             : std::filesystem::path(VISTREL_FTP_SERVERS_DIR);
}

namespace {

// Null, with the reason, unless the server is unpacked and we are root.
template <class Server>
std::unique_ptr<Real_Ftp_Server>
Start_Unpacked(const char* binary, const std::filesystem::path& certificate, std::string& why) {
    const std::filesystem::path servers = Unpacked_Servers();
    if (servers.empty() || !std::filesystem::exists(servers / binary)) {
        why = std::string(binary) + " is not unpacked (scripts/test does it)";
        return nullptr;
    }
    if (::geteuid() != 0) {
        why = "the server logs in a system user only when run as root";
        return nullptr;
    }
    return std::make_unique<Server>(servers, certificate);
}

} // namespace

std::unique_ptr<Real_Ftp_Server> Start_Vsftpd(const std::filesystem::path& certificate,
                                              std::string& why) {
    return Start_Unpacked<Vsftpd>("usr/sbin/vsftpd", certificate, why);
}

std::unique_ptr<Real_Ftp_Server> Start_Proftpd(const std::filesystem::path& certificate,
                                               std::string& why) {
    return Start_Unpacked<Proftpd>("usr/sbin/proftpd", certificate, why);
}

} // namespace vistrel::test
