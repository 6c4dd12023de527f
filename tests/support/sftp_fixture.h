// The SFTP tests' server: OpenSSH's sshd on a free loopback port with its
// own configuration and host keys, and what the tests do with it. The test
// user (with its password) is made by scripts/test; without it, or without
// root (sshd checks passwords as root), the tests are skipped.
#pragma once

#include "upload/server_session.h"
#include "upload/sftp_client.h"
#include "upload/upload_list.h"
#include "upload/upload_worker.h"

#include "support/sshd_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace vistrel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kUser = kSftp_User;
constexpr const char* kPassword = kSftp_Password;
constexpr const char* kSshd = kSshd_Program;

class Sftp_Server : public ::testing::Test {
protected:
    Temp_Dir dir;
    uint16_t port = 0;
    fs::path home;
    std::unique_ptr<Sshd> sshd;
    std::string known_hosts = dir.Folder() + "known_hosts";

    void SetUp() override {
        if (!Sshd_Can_Run(&home))
            GTEST_SKIP() << "needs root, " << kSshd << " and the user " << kUser
                         << " (scripts/test makes it)";
        port = Free_Loopback_Port();
        sshd = std::make_unique<Sshd>(dir.Path(), port, "host_key");
        ASSERT_TRUE(Accepts(port)) << Bytes_Of(dir.Path() / "sshd.log");
    }

    std::string Server() const { return "sftp://127.0.0.1:" + std::to_string(port); }

    void Configure(SFTP_Client& client, const std::string& password = kPassword) {
        client.Set_Server(Server());
        client.Set_Credentials(kUser, password);
        client.Known_Hosts_File = known_hosts;
        client.Connect_Timeout = 5s;
        client.Read_Timeout = 5s;
        client.Stall_Timeout = 5s;
    }

    // Connects once to learn the key, and trusts it.
    void Trust_The_Server(SFTP_Client& client) {
        try {
            client.Connect();
            FAIL() << "an unknown key was not refused";
        } catch (const Host_Key_Error& e) {
            ASSERT_EQ(e.Problem(), Host_Key_Problem::Unknown);
            EXPECT_EQ(e.Key_Type(), "ssh-ed25519");
            EXPECT_EQ(e.Fingerprint().rfind("SHA256:", 0), 0u) << e.Fingerprint();
            Trust_Host_Key(known_hosts, e);
        }
    }

    // The worker on an SFTP session to the test server, its runs made one
    // at a time on the test's thread.
    struct Uploading {
        Server_Session session;
        Upload_List files;
        Working_Settings settings;
        Upload_Worker worker{session, files, {[this] { return settings; }, nullptr, nullptr}};

        explicit Uploading(const Sftp_Server& test) {
            session.Sftp.Known_Hosts_File = test.known_hosts;
            session.Sftp.Connect_Timeout = session.Sftp.Read_Timeout = session.Sftp.Stall_Timeout =
                5s;
            settings.Use_FTP = true;
            settings.FTP_Server = test.Server();
            settings.FTP_Login = kUser;
            settings.FTP_Password = kPassword;
            settings.Sampling_ms = 200;
            worker.Hold(true);
        }
    };

    fs::path Picture(int n, size_t size) {
        const fs::path path =
            dir.Path() / ("I_10_00_0" + std::to_string(n) + "__0000" + std::to_string(n) + ".jpg");
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 31 + static_cast<size_t>(n) * 7) % 251);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

} // namespace vistrel::test
