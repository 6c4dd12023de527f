#include "support/sshd_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vistrel::test {

namespace fs = std::filesystem;

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// The processes below `root`: sshd's connection processes start sessions of
// their own, so its process group does not hold them.
std::vector<pid_t> Descendants(pid_t root) {
    std::map<pid_t, pid_t> parent;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(e.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        parent[static_cast<pid_t>(std::stol(name))] = ppid;
    }
    std::vector<pid_t> found;
    for (const auto& [pid, ppid] : parent)
        for (pid_t up = ppid; up > 1; up = parent.count(up) ? parent[up] : 0)
            if (up == root) {
                found.push_back(pid);
                break;
            }
    return found;
}

void Signal_All(pid_t root, int signal) {
    for (const pid_t pid : Descendants(root))
        ::kill(pid, signal);
    ::kill(root, signal);
}

} // namespace

uint16_t Free_Loopback_Port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

bool Sshd_Can_Run(fs::path* home) {
    const passwd* user = ::getpwnam(kSftp_User);
    if (::geteuid() != 0 || user == nullptr || !fs::exists(kSshd_Program))
        return false;
    // Only the home the test script makes is ever emptied.
    if (std::string(user->pw_dir) != std::string("/var/tmp/") + kSftp_User + "-home")
        return false;
    if (home != nullptr) {
        *home = user->pw_dir;
        for (const auto& e : fs::directory_iterator(*home))
            if (e.path().filename().string().rfind('.', 0) != 0)
                fs::remove_all(e.path());
    }
    return true;
}

Sshd::Sshd(const fs::path& dir, uint16_t port, const std::string& key_name) {
    const fs::path key = dir / key_name;
    if (!fs::exists(key))
        if (std::system(("ssh-keygen -q -t ed25519 -N '' -f " + key.string()).c_str()) != 0)
            return;
    const fs::path config = dir / "sshd_config";
    std::ofstream(config) << "Port " << port << "\nListenAddress 127.0.0.1\nHostKey "
                          << key.string()
                          << "\nPasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                             "UsePAM no\nPermitRootLogin no\nAllowUsers "
                          << kSftp_User
                          << "\nSubsystem sftp internal-sftp\nPidFile none\nStrictModes no\n";
    std::error_code ec;
    fs::create_directories("/run/sshd", ec); // its privilege separation folder
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a test that crashed
        const std::string log = (dir / "sshd.log").string();
        if (std::freopen(log.c_str(), "a", stderr) == nullptr)
            ::_exit(126);
        ::execl(kSshd_Program, kSshd_Program, "-D", "-e", "-f", config.c_str(), nullptr);
        ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    for (int i = 0; i < 100 && !Accepts(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

Sshd::~Sshd() {
    if (pid_ <= 0)
        return;
    Signal_All(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

void Sshd::Freeze() {
    Signal_All(pid_, SIGSTOP);
}

} // namespace vistrel::test
