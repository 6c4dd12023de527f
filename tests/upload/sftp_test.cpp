// The SFTP client and the upload worker against OpenSSH's sshd, started here
// on a free loopback port with its own configuration and host keys. The test
// user (with its password) is made by scripts/test; without it, or without
// root (sshd checks passwords as root), these tests are skipped.
#include "upload/server_session.h"
#include "upload/sftp_client.h"
#include "upload/upload_list.h"
#include "upload/upload_worker.h"

#include "support/sftp_fixture.h"
#include "support/sshd_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::Accepts;
using test::kPassword;
using test::kUser;
using test::Sftp_Server;
using test::Sshd;

// Whether this process's TCP connections to the port hold back small writes
// (Nagle's rule): one answer per connection found.
std::vector<bool> Delays_Small_Writes_To(uint16_t port) {
    std::vector<bool> found;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            peer.sin_family != AF_INET || ntohs(peer.sin_port) != port)
            continue;
        int no_delay = 0;
        socklen_t size = sizeof no_delay;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, &size) == 0)
            found.push_back(no_delay == 0);
    }
    return found;
}

TEST_F(Sftp_Server, An_Unknown_Key_Is_Refused_Then_Trusted_And_Pictures_Arrive_Whole_By_Rename) {
    SFTP_Client client;
    Configure(client);
    Trust_The_Server(client);
    EXPECT_EQ(fs::status(known_hosts).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    client.Connect();
    client.Login();
    EXPECT_TRUE(client.Logged_In());
    // Each request waits for its answer: a request held back until the
    // server acknowledges the last one costs 40 ms a step.
    const std::vector<bool> delays = Delays_Small_Writes_To(port);
    EXPECT_FALSE(delays.empty());
    EXPECT_EQ(std::count(delays.begin(), delays.end(), true), 0);
    EXPECT_EQ(client.Get_Current_Dir(), "/");
    client.List_Dir();
    EXPECT_FALSE(Listing_Has_Folder(client.List_Result(), "RIDEV_2026_12_09_D0001"));
    client.Make_Dir("RIDEV_2026_12_09_D0001");
    client.List_Dir();
    EXPECT_TRUE(Listing_Has_Folder(client.List_Result(), "RIDEV_2026_12_09_D0001"));
    client.Change_Dir("RIDEV_2026_12_09_D0001");
    EXPECT_EQ(client.Get_Current_Dir(), "/RIDEV_2026_12_09_D0001");
    for (int n = 1; n <= 3; ++n) {
        const fs::path picture = Picture(n, 40000 + n * 1000);
        client.Put_File(picture.string(), picture.filename().string(), false);
        EXPECT_EQ(test::Bytes_Of(home / "RIDEV_2026_12_09_D0001" / picture.filename()),
                  test::Bytes_Of(picture));
    }
    for (const auto& e : fs::recursive_directory_iterator(home))
        EXPECT_NE(e.path().extension(), ".part") << e.path();
    // The connection test's append, in the login directory.
    client.Change_Dir_Up();
    const fs::path settings = dir.Path() / "copy.ini";
    std::ofstream(settings) << "[string]\r\nEDT_FTP_Password=\r\n";
    client.Put_File(settings.string(), "datas.ini", true);
    client.Put_File(settings.string(), "datas.ini", true);
    EXPECT_EQ(test::Bytes_Of(home / "datas.ini"),
              test::Bytes_Of(settings) + test::Bytes_Of(settings));
}

TEST_F(Sftp_Server, A_Changed_Key_And_A_Wrong_Password_Are_Refused) {
    SFTP_Client client;
    Configure(client);
    Trust_The_Server(client);
    Configure(client, "not the password");
    client.Connect();
    try {
        client.Login();
        FAIL() << "a wrong password logged in";
    } catch (const FTP_Error& e) {
        EXPECT_EQ(e.Kind(), Failure_Kind::Server_Refused) << e.what();
    }
    EXPECT_FALSE(client.Logged_In());

    // The same address, another server key.
    sshd.reset();
    sshd = std::make_unique<Sshd>(dir.Path(), port, "other_key");
    ASSERT_TRUE(Accepts(port));
    Configure(client);
    try {
        client.Connect();
        FAIL() << "a changed key was not refused";
    } catch (const Host_Key_Error& e) {
        EXPECT_EQ(e.Problem(), Host_Key_Problem::Changed);
    }
    EXPECT_FALSE(client.Is_Connected());
}

TEST_F(Sftp_Server, The_Worker_Sends_Every_Picture_Across_A_Server_Restart) {
    {
        SFTP_Client learn;
        Configure(learn);
        Trust_The_Server(learn);
    }
    Uploading up(*this);
    Server_Session& session = up.session;
    Upload_List& files = up.files;
    Upload_Worker& worker = up.worker;
    std::vector<fs::path> pictures;
    const auto record = [&](int from, int to, const std::string& folder) {
        for (int n = from; n <= to; ++n) {
            pictures.push_back(Picture(n, 30000 + n));
            files.Append(
                {pictures.back().string(), pictures.back().filename().string(), folder, false});
        }
    };
    const auto run_until_sent = [&] {
        for (int attempt = 0; attempt < 50 && files.Unsent_Count() > 0; ++attempt) {
            worker.TRH_FtpRun();
            if (files.Unsent_Count() > 0)
                std::this_thread::sleep_for(100ms);
        }
    };
    record(1, 3, "RIDEV_2026_12_09/D0001/");
    run_until_sent();
    ASSERT_EQ(files.Unsent_Count(), 0u);
    ASSERT_TRUE(session.Is_Connected());
    // The server goes away under the open session and comes back: the next
    // pictures are put back, then sent on a new session.
    sshd.reset();
    sshd = std::make_unique<Sshd>(dir.Path(), port, "host_key");
    ASSERT_TRUE(Accepts(port));
    // In the folder already entered, so that the first request after the
    // restart is the picture's own.
    record(4, 6, "RIDEV_2026_12_09/D0001/");
    run_until_sent();
    EXPECT_EQ(files.Unsent_Count(), 0u);
    for (size_t i = 0; i < pictures.size(); ++i) {
        const fs::path remote = home / "RIDEV_2026_12_09_D0001" / pictures[i].filename();
        EXPECT_EQ(test::Bytes_Of(remote), test::Bytes_Of(pictures[i])) << remote;
    }
    for (const auto& e : fs::recursive_directory_iterator(home))
        EXPECT_NE(e.path().extension(), ".part") << e.path();
}

TEST_F(Sftp_Server, Closing_Cuts_A_Stalled_Transfer_At_Once) {
    SFTP_Client client;
    Configure(client);
    client.Read_Timeout = client.Stall_Timeout = 60s; // only the close may end it
    Trust_The_Server(client);
    client.Connect();
    client.Login();
    const fs::path big = Picture(9, 8 * 1024 * 1024);
    sshd->Freeze();
    std::atomic<bool> ended{false};
    std::thread transfer([&] {
        try {
            client.Put_File(big.string(), big.filename().string(), false);
        } catch (const std::exception&) {
        }
        ended = true;
    });
    std::this_thread::sleep_for(500ms);
    const bool stalled = !ended;
    const auto closed_at = std::chrono::steady_clock::now();
    client.Abort_Transfer();
    client.Disconnect();
    client.Close_For_Good();
    while (!ended && std::chrono::steady_clock::now() - closed_at < 10s)
        std::this_thread::sleep_for(10ms);
    const auto took = std::chrono::steady_clock::now() - closed_at;
    transfer.join();
    ASSERT_TRUE(stalled) << "the transfer was not stalled";
    EXPECT_LT(took, 2s);
    EXPECT_THROW(client.Connect(), FTP_Error) << "a closed client connected again";
}

// A server that takes the connection and never says a word: the close must
// not wait for the key exchange's time limit.
TEST_F(Sftp_Server, Closing_Cuts_A_Connect_That_Waits_For_A_Silent_Server) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    SFTP_Client client;
    Configure(client);
    client.Set_Server("sftp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    client.Connect_Timeout = 60s;
    std::atomic<bool> ended{false};
    std::thread connecting([&] {
        try {
            client.Connect();
        } catch (const std::exception&) {
        }
        ended = true;
    });
    std::this_thread::sleep_for(500ms);
    const bool waiting = !ended;
    const auto closed_at = std::chrono::steady_clock::now();
    client.Close_For_Good();
    while (!ended && std::chrono::steady_clock::now() - closed_at < 10s)
        std::this_thread::sleep_for(10ms);
    const auto took = std::chrono::steady_clock::now() - closed_at;
    connecting.join();
    ::close(listener);
    ASSERT_TRUE(waiting) << "the connect did not wait for the silent server";
    EXPECT_LT(took, 2s);
}

// The worker never asks: an unknown or changed key keeps the pictures
// queued and says which in the status.
TEST_F(Sftp_Server, The_Worker_Keeps_The_Pictures_When_The_Key_Is_Unknown_Or_Changed) {
    Uploading up(*this);
    std::vector<std::string> statuses;
    up.session.Sftp.OnStatus = [&](const std::string& text) { statuses.push_back(text); };
    Upload_List& files = up.files;
    Upload_Worker& worker = up.worker;
    const fs::path picture = Picture(1, 1000);
    files.Append({picture.string(), picture.filename().string(), "RIDEV_2026_12_09/D0001/", false});

    worker.TRH_FtpRun();
    EXPECT_EQ(files.Unsent_Count(), 1u);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(),
              "The server's host key is unknown; run the connection test to trust it");
    EXPECT_FALSE(fs::exists(known_hosts)) << "the worker trusted a key by itself";

    // Trusted, then the server's key changes.
    SFTP_Client learn;
    Configure(learn);
    Trust_The_Server(learn);
    // As the window does when its test got through: the wait after the
    // refusal ends.
    worker.Connection_Test_Succeeded();
    sshd.reset();
    sshd = std::make_unique<Sshd>(dir.Path(), port, "other_key");
    ASSERT_TRUE(Accepts(port));
    worker.TRH_FtpRun();
    EXPECT_EQ(files.Unsent_Count(), 1u);
    EXPECT_EQ(statuses.back(), "The server's host key has changed; it is refused");
    for (const auto& e : fs::directory_iterator(home))
        EXPECT_EQ(e.path().filename().string().rfind('.', 0), 0u)
            << "reached a server with a changed key: " << e.path();
}

} // namespace
} // namespace vistrel
