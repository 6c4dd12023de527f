// The HTTP request of the update check and the reading of the answer.
#include "net/http_request.h"

#include <gtest/gtest.h>

#include <string>

namespace vistrel {
namespace {

TEST(HttpUrl, TakesHostPortAndPath) {
    struct Case {
        const char* url;
        const char* host;
        uint16_t port;
        const char* path;
    };
    const Case good[] = {
        {"http://web.test/kesto-soft/Vistrel/Vistrel.ver", "web.test", 80,
         "/kesto-soft/Vistrel/Vistrel.ver"},
        {"http://127.0.0.1:8099/v.ver", "127.0.0.1", 8099, "/v.ver"},
        {"HTTP://web.test", "web.test", 80, "/"},
        {"http://[::1]:81/x", "::1", 81, "/x"},
    };
    for (const Case& c : good) {
        const auto url = Parse_Http_Url(c.url);
        ASSERT_TRUE(url.has_value()) << c.url;
        EXPECT_EQ(url->host, c.host);
        EXPECT_EQ(url->port, c.port);
        EXPECT_EQ(url->path, c.path);
    }
    for (const char* bad : {"https://web.test/", "ftp://web.test/", "http://", "http://web.test:0/",
                            "http://web.test:99999/", "http://web.test:8x/", "http://a b/",
                            "http://web.test/a\r\nX: y"})
        EXPECT_FALSE(Parse_Http_Url(bad).has_value()) << bad;
}

TEST(VersionRequest, IsTheRequestLineAndFourHeadersInOrder) {
    EXPECT_EQ(Version_Request(*Parse_Http_Url("http://web.test/kesto-soft/Vistrel/Vistrel.ver")),
              "GET /kesto-soft/Vistrel/Vistrel.ver HTTP/1.1\r\n"
              "Host: web.test\r\n"
              "Accept: text/html, */*\r\n"
              "Accept-Encoding: identity\r\n"
              "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
              "\r\n");
    EXPECT_NE(Version_Request(*Parse_Http_Url("http://127.0.0.1:8099/v"))
                  .find("\r\nHost: 127.0.0.1:8099\r\n"),
              std::string::npos);
}

// Feeds the answer in pieces of the given size, then ends the connection.
Http_Response_Reader Read(const std::string& answer, size_t piece) {
    Http_Response_Reader reader;
    for (size_t at = 0; at < answer.size() && !reader.Complete(); at += piece)
        reader.Feed(answer.data() + at, std::min(piece, answer.size() - at));
    reader.Finish();
    return reader;
}

TEST(HttpResponse, ReadsEveryWayOfEndingTheBody) {
    struct Case {
        const char* what;
        std::string answer;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nV3.3 and more", 200, "V3.3"},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2;x=y\r\nV3\r\n3\r\n.10\r\n0\r\nX: "
         "1\r\n\r\n",
         200, "V3.10"},
        {"until close", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nV3.3\n", 200, "V3.3\n"},
        {"continue first",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nV4", 200, "V4"},
        {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", 404,
         "not found"},
        {"redirection", "HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n", 302, ""},
        {"lf only", "HTTP/1.1 200 OK\nContent-Length: 2\n\nV5", 200, "V5"},
    };
    for (const Case& c : cases)
        for (const size_t piece : {size_t(1), size_t(7), c.answer.size()}) {
            SCOPED_TRACE(std::string(c.what) + " in pieces of " + std::to_string(piece));
            const Http_Response_Reader r = Read(c.answer, piece);
            EXPECT_EQ(r.Status(), c.status);
            EXPECT_EQ(r.Body(), c.body);
        }
}

TEST(HttpResponse, RefusesWhatItCannotRead) {
    const std::string answers[] = {"SSH-2.0-OpenSSH\r\n",
                                   "HTTP/1.1 2x0 OK\r\n\r\n",
                                   "HTTP/1.1 -12 OK\r\n\r\n",
                                   "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort",
                                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
                                   "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
                                   "HTTP/1.1 200 OK\r\nno colon\r\n\r\n",
                                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nV3X",
                                   "",
                                   "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n" +
                                       std::string(2 << 20, 'x')};
    for (const std::string& answer : answers)
        EXPECT_THROW(Read(answer, 3), Http_Error) << answer.substr(0, 60);
}

TEST(HttpResponse, RefusesALongLineHoweverTheAnswerArrives) {
    const auto answer = [](size_t header_length) {
        return "HTTP/1.1 200 OK\r\nServer: " + std::string(header_length, 'a') +
               "\r\nContent-Length: 2\r\n\r\nV5";
    };
    const std::string too_long = answer(9000);
    // Whether the line's end comes in the same piece or not.
    for (const size_t piece : {size_t(1), size_t(4096), too_long.size()}) {
        SCOPED_TRACE(piece);
        EXPECT_THROW(Read(too_long, piece), Http_Error);
        EXPECT_EQ(Read(answer(8000), piece).Body(), "V5");
    }
}

} // namespace
} // namespace vistrel
