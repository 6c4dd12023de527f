// A TLS connection whose server ends it while the client still sends.
#include "net/tls_stream.h"

#include "support/fake_ftp_server.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <openssl/ssl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>

namespace vistrel {
namespace {

using namespace std::chrono_literals;

// Bounds only a wait for something that must happen.
constexpr auto kPatience = 10s;

// Takes one connection, completes the TLS handshake, then ends the session
// (with close_notify or without) and closes the socket.
class Closing_Tls_Server {
public:
    Closing_Tls_Server(const std::string& pem_file, bool close_notify)
        : listener_(test::Listen_On_Loopback()),
          thread_([this, pem_file, close_notify] { Serve(pem_file, close_notify); }) {}
    ~Closing_Tls_Server() { thread_.join(); }
    Closing_Tls_Server(const Closing_Tls_Server&) = delete;
    Closing_Tls_Server& operator=(const Closing_Tls_Server&) = delete;

    uint16_t Port() const { return test::Local_Port(listener_.Get()); }

private:
    void Serve(const std::string& pem_file, bool close_notify) {
        pollfd waiting{listener_.Get(), POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) !=
            1)
            return;
        const test::Unique_Fd client(::accept(listener_.Get(), nullptr, nullptr));
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(context, pem_file.c_str());
        SSL_CTX_use_PrivateKey_file(context, pem_file.c_str(), SSL_FILETYPE_PEM);
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, client.Get());
        if (SSL_accept(ssl) == 1 && close_notify)
            SSL_shutdown(ssl);
        SSL_free(ssl);
        SSL_CTX_free(context);
    }

    const test::Unique_Fd listener_;
    std::thread thread_;
};

struct Closed_Case {
    const char* name;
    bool close_notify;     // the server ends the session properly
    bool client_reads_end; // the client has read what came before it sends
};

void PrintTo(const Closed_Case& c, std::ostream* os) {
    *os << c.name;
}

class Tls_Stream_Closed_By_Server : public ::testing::TestWithParam<Closed_Case> {};

// Sending on a session the server has closed fails at once, long before the
// deadline: it never sends nothing again and again.
TEST_P(Tls_Stream_Closed_By_Server, Sending_Throws_Promptly) {
    const Closed_Case& c = GetParam();
    const test::Temp_Dir dir;
    const test::Test_Certificate certificate("localhost", test::Loopback_Names());
    certificate.Write_With_Key(dir.Path() / "server.pem");
    Closing_Tls_Server server((dir.Path() / "server.pem").string(), c.close_notify);

    auto socket = std::make_shared<Tcp_Socket>(AF_INET);
    socket->Connect(Resolve("127.0.0.1", server.Port()).front(), After(kPatience));
    Tls_Stream stream(socket, std::make_shared<const Tls_Context>(), "127.0.0.1",
                      std::make_shared<Tls_Session_Slot>(), Tls_Stream::Role::Control);
    stream.Handshake(After(kPatience));
    ASSERT_TRUE(stream.Established());
    if (c.client_reads_end) {
        char byte = 0;
        try {
            EXPECT_EQ(stream.Receive(&byte, 1, After(kPatience)), 0u);
        } catch (const Socket_Error&) {
            ASSERT_FALSE(c.close_notify) << "the end of the session read as a failure";
        }
    }

    // Far more than the socket buffers take, so that the writes meet the
    // closed connection.
    const std::string data(8 << 20, 'x');
    auto sending = std::async(std::launch::async, [&] { stream.Send_All(data, After(60s)); });
    if (sending.wait_for(kPatience) != std::future_status::ready) {
        stream.Shutdown(); // ends the loop, so that the test can report
        sending.wait();
        FAIL() << "still sending to a closed session";
    }
    EXPECT_THROW(sending.get(), Socket_Error);
    // Again, as a caller that tries once more and then closes properly
    // would: a failure, or nothing left to do, but no SIGPIPE, which would
    // end the program.
    EXPECT_THROW(stream.Send_All(data, After(kPatience)), Socket_Error);
    try {
        stream.Finish(After(kPatience));
    } catch (const Socket_Error&) {
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Tls_Stream_Closed_By_Server,
    testing::Values(Closed_Case{"Close_Notify_Read_Before_Sending", true, true},
                    Closed_Case{"Close_Notify_Not_Read_Yet", true, false},
                    Closed_Case{"Closed_Without_Close_Notify", false, true}),
    [](const testing::TestParamInfo<Closed_Case>& info) { return std::string(info.param.name); });

} // namespace
} // namespace vistrel
