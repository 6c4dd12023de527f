// How long the SFTP client waits for a server or an SSH agent that does not
// answer: never longer than its limits, and never past a close, whatever
// libssh does.
#include "support/sftp_fixture.h"

#include "support/silent_agent.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vistrel {
namespace {

using namespace test;

class Sftp_Waits : public Sftp_Server {};

// A loopback listener whose connections the kernel takes and nobody answers.
class Silent_Listener {
public:
    Silent_Listener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 4) != 0)
            throw std::runtime_error("cannot listen on loopback");
    }
    ~Silent_Listener() { ::close(fd_); }
    Silent_Listener(const Silent_Listener&) = delete;
    Silent_Listener& operator=(const Silent_Listener&) = delete;

    uint16_t Port() const {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

private:
    const int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
};

// An operation that may wait for ever, on a thread of its own: the test sees
// whether and how it ended, and cuts it loose when it did not.
class In_Background {
public:
    explicit In_Background(std::function<void()> operation)
        : thread_([this, operation = std::move(operation)] {
              try {
                  operation();
              } catch (const FTP_Error& e) {
                  failure_ = e.what();
                  kind_ = e.Kind();
              } catch (const std::exception& e) {
                  failure_ = e.what();
              }
              ended_ = true;
          }) {}
    ~In_Background() { thread_.join(); }
    In_Background(const In_Background&) = delete;
    In_Background& operator=(const In_Background&) = delete;

    bool Ended() const { return ended_; }
    // Whether it ends within `limit` from now.
    bool Ends_Within(std::chrono::steady_clock::duration limit) const {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!ended_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        return ended_;
    }
    // Once it ended: what it threw, empty when nothing.
    const std::string& Failure() const { return failure_; }
    std::optional<Failure_Kind> Kind() const { return kind_; }

private:
    std::atomic<bool> ended_{false};
    std::string failure_;
    std::optional<Failure_Kind> kind_;
    std::thread thread_; // last: it uses the members above
};

// Far longer than any limit below: past it, the wait would have lasted for
// ever.
constexpr auto kFor_Ever = 15s;
// What a machine under load may add to a limit.
constexpr auto kMargin = 3s;

// Each request to a server that stops answering (sshd and its connection's
// process stopped) fails at the reply limit as a lost connection, and the
// next run starts a new session; libssh alone would wait for ever.
TEST_F(Sftp_Waits, A_Server_Stopped_At_Any_Request_Fails_It_Within_The_Reply_Limit) {
    {
        SFTP_Client learn;
        Configure(learn);
        Trust_The_Server(learn);
    }
    const fs::path big = Picture(7, 16 * 1024 * 1024);
    const fs::path part = home / (big.filename().string() + ".part");
    struct Row {
        const char* request;
        bool logged_in_first;
        std::function<void(SFTP_Client&)> operation;
        // When to stop the server once the request is under way; before it
        // is sent when empty.
        std::function<bool()> under_way;
    };
    const std::function<bool()> before = nullptr;
    const Row rows[] = {
        {"login", false, [](SFTP_Client& c) { c.Login(); }, before},
        {"listing", true, [](SFTP_Client& c) { c.List_Dir(); }, before},
        {"folder", true, [](SFTP_Client& c) { c.Make_Dir("RIDEV_2026_12_10_D0001"); }, before},
        {"folder check", true, [](SFTP_Client& c) { c.Change_Dir("RIDEV_2026_12_10_D0001"); },
         before},
        {"transfer under way", true,
         [&](SFTP_Client& c) { c.Put_File(big.string(), big.filename().string(), false); },
         [&] {
             std::error_code ec;
             const auto size = fs::file_size(part, ec);
             return !ec && size >= 256 * 1024;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.request);
        SFTP_Client client;
        Configure(client);
        client.Read_Timeout = client.Stall_Timeout = 1s;
        client.Connect();
        if (row.logged_in_first)
            client.Login();
        if (!row.under_way)
            sshd->Freeze();
        auto stopped_at = std::chrono::steady_clock::now();
        In_Background request([&] { row.operation(client); });
        if (row.under_way) {
            while (!row.under_way()) {
                ASSERT_FALSE(request.Ended())
                    << "ended before the server stopped: " << request.Failure();
                std::this_thread::sleep_for(1ms);
            }
            sshd->Freeze();
            stopped_at = std::chrono::steady_clock::now();
        }
        const bool ended = request.Ends_Within(kFor_Ever);
        const auto took = std::chrono::steady_clock::now() - stopped_at;
        if (!ended)
            client.Close_For_Good();
        EXPECT_TRUE(ended) << "still waiting for the stopped server";
        EXPECT_LT(took, client.Read_Timeout + kMargin);
        EXPECT_NE(request.Failure().find("within 1 s"), std::string::npos) << request.Failure();
        EXPECT_EQ(request.Kind(), Failure_Kind::Connection) << request.Failure();
        EXPECT_FALSE(client.Is_Connected());
        EXPECT_FALSE(client.Logged_In());
        sshd.reset();
        sshd = std::make_unique<Sshd>(dir.Path(), port, "host_key");
        ASSERT_TRUE(Accepts(port));
    }
}

// The same through the worker: its run ends, the busy mark goes, the picture
// stays queued, and it is sent once the server is back.
TEST_F(Sftp_Waits, The_Worker_Run_Ends_When_The_Server_Stops_Answering) {
    {
        SFTP_Client learn;
        Configure(learn);
        Trust_The_Server(learn);
    }
    Uploading up(*this);
    up.session.Sftp.Read_Timeout = up.session.Sftp.Stall_Timeout = 1s;
    const fs::path first = Picture(1, 20000);
    const fs::path second = Picture(2, 20000);
    up.files.Append({first.string(), first.filename().string(), "RIDEV_2026_12_10/D0001/", false});
    up.worker.TRH_FtpRun();
    ASSERT_EQ(up.files.Unsent_Count(), 0u);
    sshd->Freeze();
    up.files.Append(
        {second.string(), second.filename().string(), "RIDEV_2026_12_10/D0001/", false});
    const auto stopped_at = std::chrono::steady_clock::now();
    {
        In_Background run([&] { up.worker.TRH_FtpRun(); });
        const bool ended = run.Ends_Within(kFor_Ever);
        if (!ended)
            up.session.Close_For_Good();
        ASSERT_TRUE(ended) << "the run waits for the stopped server";
    }
    EXPECT_LT(std::chrono::steady_clock::now() - stopped_at, 1s + kMargin);
    EXPECT_FALSE(up.worker.FTP_Busy());
    EXPECT_EQ(up.files.Unsent_Count(), 1u);
    EXPECT_FALSE(up.session.Is_Connected());

    sshd.reset();
    sshd = std::make_unique<Sshd>(dir.Path(), port, "host_key");
    ASSERT_TRUE(Accepts(port));
    for (int attempt = 0; attempt < 20 && up.files.Unsent_Count() > 0; ++attempt) {
        up.worker.TRH_FtpRun();
        if (up.files.Unsent_Count() > 0)
            std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(up.files.Unsent_Count(), 0u);
    EXPECT_EQ(Bytes_Of(home / "RIDEV_2026_12_10_D0001" / second.filename()), Bytes_Of(second));
}

// A server that takes the connection and says nothing, or one stopped before
// it could: the connect fails at its own limit.
TEST_F(Sftp_Waits, A_Silent_Server_Fails_The_Connect_Within_The_Connect_Limit) {
    const Silent_Listener silent;
    struct Row {
        const char* server;
        std::function<uint16_t()> port_to_use;
    };
    const Row rows[] = {
        {"a listener that never greets", [&] { return silent.Port(); }},
        {"a stopped sshd",
         [&] {
             sshd->Freeze();
             return port;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.server);
        SFTP_Client client;
        Configure(client);
        client.Set_Server("sftp://127.0.0.1:" + std::to_string(row.port_to_use()));
        client.Connect_Timeout = 1s;
        client.Read_Timeout = client.Stall_Timeout = 60s;
        const auto started_at = std::chrono::steady_clock::now();
        In_Background connecting([&] { client.Connect(); });
        const bool ended = connecting.Ends_Within(kFor_Ever);
        if (!ended)
            client.Close_For_Good();
        EXPECT_TRUE(ended) << "still waiting for the greeting";
        EXPECT_LT(std::chrono::steady_clock::now() - started_at, client.Connect_Timeout + kMargin);
        EXPECT_EQ(connecting.Kind(), Failure_Kind::Connection) << connecting.Failure();
        EXPECT_FALSE(client.Is_Connected());
    }
}

// SSH_AUTH_SOCK for this process while it lives; only the test's own thread
// and the login it starts read it.
class Agent_At {
public:
    explicit Agent_At(const std::string& path) {
        if (const char* was = std::getenv("SSH_AUTH_SOCK"))
            saved_ = was;
        ::setenv("SSH_AUTH_SOCK", path.c_str(), 1);
    }
    ~Agent_At() {
        if (saved_)
            ::setenv("SSH_AUTH_SOCK", saved_->c_str(), 1);
        else
            ::unsetenv("SSH_AUTH_SOCK");
    }
    Agent_At(const Agent_At&) = delete;
    Agent_At& operator=(const Agent_At&) = delete;

private:
    std::optional<std::string> saved_;
};

// A key login asks the agent first. One that never answers, or whose queue
// is full, holds the login only until the close or the limit: libssh alone
// would wait for it for ever, the close too.
TEST_F(Sftp_Waits, An_Agent_That_Never_Answers_Holds_The_Login_Only_Until_The_Close_Or_The_Limit) {
    {
        SFTP_Client learn;
        Configure(learn);
        Trust_The_Server(learn);
    }
    using Mode = Silent_Agent::Mode;
    struct Row {
        const char* agent;
        Mode mode;
        bool closed; // by the close; otherwise by the limit
        std::optional<Failure_Kind> kind;
    };
    const Row rows[] = {
        {"silent, cut by the close", Mode::Takes_And_Never_Answers, true, Failure_Kind::Connection},
        {"silent, cut at the reply limit", Mode::Takes_And_Never_Answers, false,
         Failure_Kind::Connection},
        // Out of reach at the connect limit: the login goes on with the key
        // files, which the server does not know.
        {"queue full, given up at the connect limit", Mode::Queue_Full, false,
         Failure_Kind::Server_Refused},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.agent);
        auto agent = std::make_unique<Silent_Agent>(dir.Path() / "agent.sock", row.mode);
        const Agent_At pointed(agent->Path());
        SFTP_Client client;
        Configure(client, "");
        client.Read_Timeout = client.Stall_Timeout = row.closed ? 60s : 1s;
        client.Connect_Timeout = 1s;
        client.Connect();
        auto cut_at = std::chrono::steady_clock::now();
        In_Background login([&] { client.Login(); });
        if (row.mode == Mode::Takes_And_Never_Answers) {
            while (agent->Taken() == 0 && !login.Ended() &&
                   std::chrono::steady_clock::now() - cut_at < kFor_Ever)
                std::this_thread::sleep_for(10ms);
            ASSERT_EQ(agent->Taken(), 1) << "the agent was not asked: " << login.Failure();
        }
        if (row.closed) {
            std::this_thread::sleep_for(300ms);
            ASSERT_FALSE(login.Ended()) << login.Failure();
            cut_at = std::chrono::steady_clock::now();
            client.Close_For_Good();
        }
        const auto limit = row.closed ? std::chrono::seconds(2) : 1s + kMargin;
        const bool ended = login.Ends_Within(kFor_Ever);
        const auto took = std::chrono::steady_clock::now() - cut_at;
        if (!ended) {
            client.Close_For_Good();
            agent.reset(); // the agent going is what ends a wait for it
        }
        EXPECT_TRUE(ended) << "the login waits for the agent";
        EXPECT_LT(took, limit);
        EXPECT_EQ(login.Kind(), row.kind) << login.Failure();
        EXPECT_FALSE(client.Logged_In());
    }
}

} // namespace
} // namespace vistrel
