#include "net/version_fetch.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vistrel {
namespace {

using namespace std::chrono_literals;

// A one-shot web server on a loopback port: it reads the request, records it,
// writes the canned answer (or nothing) and closes.
class One_Answer_Server {
public:
    explicit One_Answer_Server(std::string answer, bool answer_at_all = true)
        : answer_(std::move(answer)), answer_at_all_(answer_at_all) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~One_Answer_Server() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    uint16_t Port() const { return port_; }
    std::string Request() {
        thread_.join();
        thread_ = std::thread([] {});
        return request_;
    }

private:
    void Serve() {
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0)
            return;
        char buffer[4096];
        while (request_.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            request_.append(buffer, static_cast<size_t>(got));
        }
        if (answer_at_all_) {
            ::send(client, answer_.data(), answer_.size(), MSG_NOSIGNAL);
        } else {
            // Keep the connection open and silent until the client gives up.
            while (::recv(client, buffer, sizeof buffer, 0) > 0) {
            }
        }
        ::close(client);
    }

    std::string answer_;
    bool answer_at_all_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::string request_;
    std::thread thread_;
};

TEST(HttpGet, SendsTheVersionRequestAndTakesOnlySuccessfulBodies) {
    struct Case {
        const char* what;
        std::string answer;
        std::optional<std::string> body;
    };
    const Case cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nV3.3", "V3.3"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nV3.3\r\n0\r\n\r\n",
         "V3.3"},
        {"until close", "HTTP/1.0 200 OK\r\n\r\nV3,3", "V3,3"},
        {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nV9.9", std::nullopt},
        {"redirection", "HTTP/1.1 302 Found\r\nLocation: /v\r\nContent-Length: 0\r\n\r\n",
         std::nullopt},
        {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nV3", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        One_Answer_Server server(c.answer);
        EXPECT_EQ(Http_Get_Body(server.Url("/kesto-soft/Vistrel/Vistrel.ver"), 5s), c.body);
        EXPECT_EQ(server.Request(),
                  "GET /kesto-soft/Vistrel/Vistrel.ver HTTP/1.1\r\n"
                  "Host: 127.0.0.1:" +
                      std::to_string(server.Port()) +
                      "\r\n"
                      "Accept: text/html, */*\r\n"
                      "Accept-Encoding: identity\r\n"
                      "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
    }
}

TEST(HttpGet, ASilentServerIsGivenUpAtTheLimit) {
    One_Answer_Server server("", false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Http_Get_Body(server.Url("/v"), 300ms), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(HttpGet, NoServerGivesNothing) {
    // A port that was free a moment ago and has no listener: refused.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/v";
    EXPECT_EQ(Http_Get_Body(url, 1s), std::nullopt);
    EXPECT_EQ(Http_Get_Body("https://127.0.0.1/v", 1s), std::nullopt);
}

TEST(VersionFetch, DeliversOnItsOwnThreadAndNotAfterBeingDropped) {
    One_Answer_Server server("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nV3.3");
    std::promise<std::optional<std::string>> answer;
    {
        Version_Fetch fetch(server.Url("/v"), 5s,
                            [&](std::optional<std::string> body) { answer.set_value(body); });
        auto result = answer.get_future();
        ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(result.get(), "V3.3");
    }
    One_Answer_Server silent("", false);
    bool called = false;
    {
        Version_Fetch dropped(silent.Url("/v"), 10s,
                              [&](std::optional<std::string>) { called = true; });
        std::this_thread::sleep_for(100ms);
    } // dropping cuts the connection, so the silent server's thread ends too
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(called);
}

} // namespace
} // namespace vistrel
