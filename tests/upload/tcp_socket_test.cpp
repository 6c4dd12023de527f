#include "upload/tcp_socket.h"

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
        client.Connect(server, 5000ms);
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

TEST(Tcp_Socket, Refused_Connection_Fails) {
    Tcp_Socket socket(AF_INET);
    const Endpoint nobody = Resolve("127.0.0.1", test::Unused_Port()).front();
    EXPECT_THROW(socket.Connect(nobody, 5000ms), Socket_Error);
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
    EXPECT_EQ(reader.Read_Line(pair.client, 5000ms), "one");
    EXPECT_EQ(reader.Read_Line(pair.client, 5000ms), "two");
    pair.Peer_Sends("ee\r\n\r\nlast without end");
    EXPECT_EQ(reader.Read_Line(pair.client, 5000ms), "three");
    EXPECT_EQ(reader.Read_Line(pair.client, 5000ms), "");
    pair.peer.Reset();
    EXPECT_THROW(reader.Read_Line(pair.client, 5000ms), Socket_Error);
}

TEST(Tcp_Socket, Waits_No_Longer_Than_Its_Limit) {
    Connected_Pair pair;
    char byte;
    EXPECT_THROW(pair.client.Receive(&byte, 1, 50ms), Socket_Error);
    Line_Reader reader;
    pair.Peer_Sends("a line without its end");
    EXPECT_THROW(reader.Read_Line(pair.client, 50ms), Socket_Error);
}

TEST(Tcp_Socket, Shutdown_From_Another_Thread_Ends_A_Blocked_Wait) {
    Connected_Pair pair;
    auto receiving = std::async(std::launch::async, [&] {
        char byte;
        pair.client.Receive(&byte, 1, 20000ms);
    });
    std::this_thread::sleep_for(50ms); // most likely blocked by now; either way it must fail
    pair.client.Shutdown();
    ASSERT_EQ(receiving.wait_for(5s), std::future_status::ready);
    EXPECT_THROW(receiving.get(), Socket_Error);
    EXPECT_TRUE(pair.client.Peer_Closed());

    // Every later wait fails at once as well.
    EXPECT_THROW(pair.client.Send_All("x", 20000ms), Socket_Error);
    Tcp_Socket never_connected(AF_INET);
    never_connected.Shutdown();
    EXPECT_THROW(never_connected.Connect(pair.client.Peer_Address(), 20000ms), Socket_Error);
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
    pair.client.Send_All(bytes, 5000ms);
    pair.client.Shutdown();
    ASSERT_EQ(reading.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reading.get(), bytes);
}

} // namespace
} // namespace vistrel
