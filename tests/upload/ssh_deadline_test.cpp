// The pieces that keep libssh's waits bounded: the watchdog that cuts a call
// at its limit, the agent connection a close can cut, and the guard that
// keeps a write to a cut agent from ending the program.
#include "net/tcp_socket.h"
#include "upload/ssh_agent_socket.h"
#include "upload/ssh_deadline.h"

#include "support/silent_agent.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using test::Silent_Agent;

// Long enough for any machine, short enough not to hold a broken run.
constexpr auto kPatience = 10s;

// Waits for `done` (a future) and says whether it came in time.
template <typename T> bool Ends(std::future<T>& done) {
    return done.wait_for(kPatience) == std::future_status::ready;
}

struct Socket_Pair {
    int ends[2] = {-1, -1};
    Socket_Pair() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends); }
    ~Socket_Pair() {
        for (const int fd : ends)
            if (fd >= 0)
                ::close(fd);
    }
};

TEST(Watchdog, A_Read_That_Outlives_Its_Limit_Is_Cut_And_Reported_As_Expired) {
    Socket_Pair pair;
    Watchdog watchdog([&] { ::shutdown(pair.ends[0], SHUT_RDWR); });
    auto reading = std::async(std::launch::async, [&] {
        Watchdog::Armed armed = watchdog.Arm(50ms);
        char byte = 0;
        const ssize_t got = ::read(pair.ends[0], &byte, 1); // the peer never writes
        return std::make_pair(got, armed.Disarm());
    });
    ASSERT_TRUE(Ends(reading)) << "the limit did not cut the read";
    const auto [got, expired] = reading.get();
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(expired);
}

TEST(Watchdog, A_Call_Answered_In_Time_Is_Not_Cut_And_A_Later_Arming_Still_Is) {
    std::atomic<int> cuts{0};
    Watchdog watchdog([&] { ++cuts; });
    for (const Milliseconds limit : {Milliseconds(60000), kNo_Limit}) {
        Watchdog::Armed armed = watchdog.Arm(limit);
        EXPECT_FALSE(armed.Disarm()) << limit.count();
    }
    // Disarmed once, it stays so: its destructor changes nothing.
    {
        Watchdog::Armed armed = watchdog.Arm(60000ms);
        EXPECT_FALSE(armed.Disarm());
    }
    Watchdog::Armed late = watchdog.Arm(20ms);
    const auto waited_from = std::chrono::steady_clock::now();
    while (cuts == 0 && std::chrono::steady_clock::now() - waited_from < kPatience)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(late.Disarm());
    EXPECT_EQ(cuts, 1);
}

// What the watchdog reports is what happened: a call told "in time" was
// never cut, and every cut was reported to the call it cut, however close
// the answer comes to the limit.
TEST(Watchdog, Disarming_At_The_Limit_Reports_Exactly_The_Cuts_That_Happened) {
    int cuts = 0;         // under the watchdog's lock, as cuts run
    bool cut_now = false; // set by the cut of the call under way
    int reported = 0;
    {
        Watchdog watchdog([&] {
            ++cuts;
            cut_now = true;
        });
        for (int i = 0; i < 300; ++i) {
            Watchdog::Armed armed = watchdog.Arm(Milliseconds(i % 3));
            const auto spin_until =
                std::chrono::steady_clock::now() + std::chrono::microseconds(i % 7 * 150);
            while (std::chrono::steady_clock::now() < spin_until) {
            }
            const bool expired = armed.Disarm();
            EXPECT_EQ(expired, cut_now) << "call " << i;
            reported += expired ? 1 : 0;
            cut_now = false;
        }
    }
    EXPECT_EQ(cuts, reported);
}

TEST(Watchdog, A_Request_Past_Its_Limit_Fails_As_A_Lost_Connection_Whatever_It_Returned) {
    Socket_Pair pair;
    Watchdog watchdog([&] { ::shutdown(pair.ends[0], SHUT_RDWR); });
    EXPECT_EQ(Within(watchdog, 60000ms, "STAT", [] { return 7; }), 7);
    auto reading = std::async(std::launch::async, [&] {
        return Within(watchdog, 50ms, "READ", [&] {
            char byte = 0;
            return ::read(pair.ends[0], &byte, 1); // 0 once cut, as at the peer's end
        });
    });
    ASSERT_TRUE(Ends(reading)) << "the limit did not cut the read";
    try {
        reading.get();
        FAIL() << "a cut read passed for an answer";
    } catch (const FTP_Error& e) {
        EXPECT_STREQ(e.what(), "no reply to READ within 50 ms");
        EXPECT_EQ(e.Kind(), Failure_Kind::Connection);
    }
}

TEST(Watchdog, Limit_Text_Says_Seconds_Or_Milliseconds) {
    EXPECT_EQ(Limit_Text(60000ms), "60 s");
    EXPECT_EQ(Limit_Text(15000ms), "15 s");
    EXPECT_EQ(Limit_Text(1500ms), "1500 ms");
}

// The three moments a close can come while the client talks to an agent
// that never answers: each ends at once.
TEST(Agent_Socket, A_Cut_Ends_Every_Wait_On_A_Silent_Agent) {
    test::Temp_Dir dir;
    struct Row {
        const char* moment;
        Silent_Agent::Mode agent;
        bool connected_first;
    };
    const Row rows[] = {
        {"waiting for the answer", Silent_Agent::Mode::Takes_And_Never_Answers, true},
        {"waiting for room in a full queue", Silent_Agent::Mode::Queue_Full, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.moment);
        Silent_Agent agent(dir.Path() / "agent.sock", row.agent);
        Agent_Socket socket;
        std::promise<void> connected;
        auto talking = std::async(std::launch::async, [&] {
            socket.Connect(agent.Path(), After(5000ms));
            connected.set_value();
            const char request[] = {0, 0, 0, 1, 11};
            EXPECT_EQ(::write(socket.Descriptor(), request, sizeof request),
                      static_cast<ssize_t>(sizeof request));
            char answer = 0;
            return ::read(socket.Descriptor(), &answer, 1);
        });
        if (row.connected_first)
            connected.get_future().wait();
        std::this_thread::sleep_for(100ms);
        ASSERT_EQ(talking.wait_for(0s), std::future_status::timeout) << "nothing waited";
        socket.Shutdown();
        const bool ended = Ends(talking);
        if (!ended)
            agent.Hang_Up(); // or the failed test would wait for ever
        ASSERT_TRUE(ended) << "the cut did not end the wait";
        if (row.connected_first)
            EXPECT_EQ(talking.get(), 0);
        else
            EXPECT_THROW(talking.get(), Socket_Error);
    }
    // Cut before it starts: no connect is made.
    Silent_Agent agent(dir.Path() / "agent.sock", Silent_Agent::Mode::Takes_And_Never_Answers);
    Agent_Socket socket;
    socket.Shutdown();
    EXPECT_THROW(socket.Connect(agent.Path(), After(60000ms)), Socket_Error);
    EXPECT_TRUE(socket.Is_Shut_Down());
}

TEST(Agent_Socket, An_Agent_Out_Of_Reach_Fails_At_Once_Or_At_The_Deadline) {
    test::Temp_Dir dir;
    {
        Agent_Socket socket;
        try {
            socket.Connect((dir.Path() / "no-agent.sock").string(), After(60000ms));
            FAIL() << "connected to nothing";
        } catch (const Socket_Timeout&) {
            FAIL() << "a missing agent was waited for";
        } catch (const Socket_Error& e) {
            EXPECT_NE(std::string(e.what()).find("no-agent.sock"), std::string::npos) << e.what();
        }
    }
    for (const std::string& path : {std::string(), std::string(200, 'x')}) {
        Agent_Socket socket;
        EXPECT_THROW(socket.Connect(path, After(60000ms)), Socket_Error) << path.size();
    }
    Silent_Agent full(dir.Path() / "agent.sock", Silent_Agent::Mode::Queue_Full);
    Agent_Socket socket;
    EXPECT_THROW(socket.Connect(full.Path(), After(100ms)), Socket_Timeout);
}

TEST(Agent_Socket, A_Connected_Agent_Is_Left_Blocking_As_Libssh_Expects) {
    test::Temp_Dir dir;
    Silent_Agent agent(dir.Path() / "agent.sock", Silent_Agent::Mode::Takes_And_Never_Answers);
    Agent_Socket socket;
    socket.Connect(agent.Path(), After(60000ms));
    EXPECT_EQ(::fcntl(socket.Descriptor(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(socket.Descriptor(), F_GETFD) & FD_CLOEXEC, 0);
}

bool Sigpipe_Blocked() {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, SIGPIPE) == 1;
}

bool Sigpipe_Pending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

// Without the guard the write below ends the test program.
TEST(Sigpipe_Held, A_Write_To_A_Cut_Socket_Fails_And_Leaves_No_Signal_Behind) {
    ASSERT_FALSE(Sigpipe_Blocked());
    Socket_Pair pair;
    ::shutdown(pair.ends[0], SHUT_RDWR);
    {
        const Sigpipe_Held held;
        EXPECT_TRUE(Sigpipe_Blocked());
        const char byte = 'x';
        errno = 0;
        EXPECT_EQ(::write(pair.ends[0], &byte, 1), -1);
        EXPECT_EQ(errno, EPIPE);
    }
    EXPECT_FALSE(Sigpipe_Blocked());
    EXPECT_FALSE(Sigpipe_Pending());
}

} // namespace
} // namespace vistrel
