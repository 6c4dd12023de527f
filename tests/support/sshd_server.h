// OpenSSH's sshd for the SFTP tests and benchmarks: started on a loopback
// port with its own configuration and host key; its connections' processes
// freeze and die with it. It needs root (it checks passwords) and the user
// scripts/test makes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>

namespace vistrel::test {

inline constexpr const char* kSftp_User = "vistrel-sftp";
inline constexpr const char* kSftp_Password = "vistrel-test-pw";
inline constexpr const char* kSshd_Program = "/usr/sbin/sshd";

uint16_t Free_Loopback_Port();
bool Accepts(uint16_t port);

// Whether sshd can run here for the test user; the user's home otherwise
// empty.
bool Sshd_Can_Run(std::filesystem::path* home = nullptr);

class Sshd {
public:
    // The host key is made in `dir` under `key_name` unless it is there.
    Sshd(const std::filesystem::path& dir, uint16_t port, const std::string& key_name);
    ~Sshd();
    Sshd(const Sshd&) = delete;
    Sshd& operator=(const Sshd&) = delete;

    // Stops every process of the server, the connections' too: a transfer
    // to it stalls.
    void Freeze();

private:
    pid_t pid_ = -1;
};

} // namespace vistrel::test
