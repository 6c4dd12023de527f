// vsftpd and proftpd, unpacked from Debian's packages into the build folder
// by the test script, run for one test each: a process of its own on a free
// loopback port, its own configuration, and a fresh folder as the user's
// root. Both speak explicit FTPS only, as their TLS-only set-ups require.
#pragma once

#include "support/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vistrel::test {

// A server program, ended with SIGKILL when the object goes.
class Server_Process {
public:
    Server_Process(const std::vector<std::string>& argv, const std::filesystem::path& log);
    ~Server_Process();
    Server_Process(const Server_Process&) = delete;
    Server_Process& operator=(const Server_Process&) = delete;

    // Waits until something accepts connections on the port; false when the
    // process ended or nothing did in time.
    bool Wait_Until_Listening(uint16_t port) const;

private:
    pid_t pid_ = -1;
};

class Real_Ftp_Server {
public:
    // The system user the servers log in: its uid owns the folder served.
    static constexpr const char* kUser = "daemon";
    static constexpr const char* kPassword = "s3cret pass";

    virtual ~Real_Ftp_Server() = default;
    virtual std::string Name() const = 0;
    uint16_t Port() const { return port_; }
    // The folder that is "/" after the login.
    const std::filesystem::path& Root() const { return root_; }
    // What the server wrote of its work, for a failure's message.
    std::string Log() const;

protected:
    Temp_Dir dir_;
    std::filesystem::path root_;
    std::filesystem::path log_;
    uint16_t port_ = 0;
    std::unique_ptr<Server_Process> process_;
};

// Where the unpacked servers are; empty when the script did not unpack them.
std::filesystem::path Unpacked_Servers();

// Null, with the reason in `why`, when the server cannot run here (not
// unpacked, or not root, which vsftpd's local users need).
// `certificate` holds the certificate and key in PEM.
std::unique_ptr<Real_Ftp_Server> Start_Vsftpd(const std::filesystem::path& certificate,
                                              std::string& why);
std::unique_ptr<Real_Ftp_Server> Start_Proftpd(const std::filesystem::path& certificate,
                                               std::string& why);

} // namespace vistrel::test
