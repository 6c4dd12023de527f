#include "net/tcp_socket.h"

#include "support/fake_ftp_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using test::Unique_Fd;

// A client socket connected to a loopback listener, and the server's end.
struct Connected_Pair {
    Connected_Pair() : listener(test::Listen_On_Loopback()) {
        const Endpoint server = Resolve("127.0.0.1", test::Local_Port(listener.Get())).front();
        client.Connect(server, After(5000ms));
        peer = Unique_Fd(::accept(listener.Get(), nullptr, nullptr));
    }
    void Peer_Sends(const std::string& bytes) const {
        ASSERT_EQ(::send(peer.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }

    Unique_Fd listener;
    Tcp_Socket client{AF_INET};
    Unique_Fd peer;
};

TEST(Resolve, Uses_Numeric_Addresses_As_They_Are_And_Resolves_Names) {
    EXPECT_TRUE(Is_Numeric_Host("127.0.0.1"));
    EXPECT_TRUE(Is_Numeric_Host("::1"));
    EXPECT_FALSE(Is_Numeric_Host("localhost"));
    EXPECT_FALSE(Is_Numeric_Host("ftp.example.org"));

    const std::vector<Endpoint> numeric = Resolve("192.168.1.10", 2121);
    ASSERT_EQ(numeric.size(), 1u);
    EXPECT_EQ(numeric[0].Host(), "192.168.1.10");
    EXPECT_EQ(numeric[0].Port(), 2121);
    EXPECT_EQ(numeric[0].With_Port(50000).Port(), 50000);
    EXPECT_EQ(numeric[0].With_Port(50000).Host(), "192.168.1.10");

    EXPECT_FALSE(Resolve("localhost", 21).empty());
    EXPECT_THROW(Resolve("no-such-host.invalid", 21), Socket_Error);
}

TEST(IPv4_First, Puts_IPv4_Before_IPv6_And_Keeps_Each_Familys_Order) {
    const auto endpoint = [](const char* host, uint16_t port) { return Resolve(host, port)[0]; };
    const std::vector<Endpoint> mixed = {endpoint("::1", 1), endpoint("10.0.0.1", 2),
                                         endpoint("fe80::1", 3), endpoint("10.0.0.2", 4)};
    std::vector<uint16_t> ports;
    for (const Endpoint& e : IPv4_First(mixed))
        ports.push_back(e.Port());
    EXPECT_EQ(ports, (std::vector<uint16_t>{2, 4, 1, 3}));
    EXPECT_TRUE(IPv4_First({}).empty());
}

TEST(Tcp_Socket, Established_Only_Once_The_Connect_Has_Completed) {
    Connected_Pair pair;
    EXPECT_TRUE(pair.client.Established());
    const test::Full_Listener dropping;
    Tcp_Socket waiting(AF_INET);
    auto connecting = std::async(std::launch::async, [&] {
        waiting.Connect(Resolve("127.0.0.1", dropping.Port()).front(), After(20s));
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(waiting.Established());
    EXPECT_FALSE(waiting.Peer_Closed()) << "nothing to read or close yet";
    waiting.Shutdown();
    ASSERT_EQ(connecting.wait_for(1s), std::future_status::ready);
    EXPECT_THROW(connecting.get(), Socket_Error);
    EXPECT_FALSE(waiting.Established());
}

TEST(Tcp_Socket, Refused_Connection_Fails) {
    Tcp_Socket socket(AF_INET);
    const Endpoint nobody = Resolve("127.0.0.1", test::Unused_Port()).front();
    EXPECT_THROW(socket.Connect(nobody, After(5000ms)), Socket_Error);
}

TEST(Tcp_Socket, Knows_Its_Peer_And_When_The_Peer_Has_Closed) {
    Connected_Pair pair;
    EXPECT_EQ(pair.client.Peer_Address().Host(), "127.0.0.1");
    EXPECT_EQ(pair.client.Peer_Address().Port(), test::Local_Port(pair.listener.Get()));
    EXPECT_FALSE(pair.client.Peer_Closed());

    pair.Peer_Sends("unread bytes do not hide the close");
    pair.peer.Reset();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!pair.client.Peer_Closed() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(pair.client.Peer_Closed());
}

TEST(Line_Reader, Splits_At_Crlf_Or_Lf_And_Keeps_The_Rest_For_Later) {
    Connected_Pair pair;
    pair.Peer_Sends("one\r\ntwo\nthr");
    Line_Reader reader;
    EXPECT_EQ(reader.Read_Line(pair.client, After(5000ms)), "one");
    EXPECT_EQ(reader.Read_Line(pair.client, After(5000ms)), "two");
    pair.Peer_Sends("ee\r\n\r\nlast without end");
    EXPECT_EQ(reader.Read_Line(pair.client, After(5000ms)), "three");
    EXPECT_EQ(reader.Read_Line(pair.client, After(5000ms)), "");
    pair.peer.Reset();
    EXPECT_THROW(reader.Read_Line(pair.client, After(5000ms)), Socket_Error);
}

TEST(Tcp_Socket, Waits_No_Longer_Than_Its_Limit) {
    Connected_Pair pair;
    char byte;
    EXPECT_THROW(pair.client.Receive(&byte, 1, After(50ms)), Socket_Timeout);
    Line_Reader reader;
    pair.Peer_Sends("a line without its end");
    EXPECT_THROW(reader.Read_Line(pair.client, After(50ms)), Socket_Timeout);
    EXPECT_TRUE(reader.Holds_Bytes());
    // A deadline already past still reads what has arrived.
    pair.Peer_Sends(", and here it is\n");
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(reader.Read_Line(pair.client, Steady_Clock::now() - 1s),
              "a line without its end, and here it is");
}

TEST(Tcp_Socket, Shutdown_From_Another_Thread_Ends_A_Blocked_Wait) {
    Connected_Pair pair;
    auto receiving = std::async(std::launch::async, [&] {
        char byte;
        pair.client.Receive(&byte, 1, After(20000ms));
    });
    std::this_thread::sleep_for(50ms); // most likely blocked by now; either way it must fail
    pair.client.Shutdown();
    ASSERT_EQ(receiving.wait_for(5s), std::future_status::ready);
    EXPECT_THROW(receiving.get(), Socket_Error);
    EXPECT_TRUE(pair.client.Peer_Closed());

    // Every later wait fails at once as well.
    EXPECT_THROW(pair.client.Send_All("x", After(20000ms)), Socket_Error);
    Tcp_Socket never_connected(AF_INET);
    never_connected.Shutdown();
    EXPECT_THROW(never_connected.Connect(pair.client.Peer_Address(), After(20000ms)), Socket_Error);
}

TEST(Tcp_Socket, Sends_Everything_However_Large) {
    Connected_Pair pair;
    const std::string bytes(3 * 1024 * 1024, 'v');
    auto reading = std::async(std::launch::async, [&] {
        std::string received;
        char chunk[65536];
        ssize_t count;
        while ((count = ::recv(pair.peer.Get(), chunk, sizeof chunk, 0)) > 0)
            received.append(chunk, static_cast<size_t>(count));
        return received;
    });
    pair.client.Send_All(bytes, After(5000ms));
    pair.client.Shutdown();
    ASSERT_EQ(reading.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reading.get(), bytes);
}

} // namespace
} // namespace vistrel
