#include "upload/server_address.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vistrel {
namespace {

TEST(Parse_Server, Reads_Host_And_Optional_Port) {
    using enum Transfer_Protocol;
    struct Case {
        const char* text;
        const char* host;
        uint16_t port;
        Transfer_Protocol protocol = Ftp;
    };
    const Case cases[] = {
        {"ftp.example.org", "ftp.example.org", 21},
        {"ftp.example.org:2121", "ftp.example.org", 2121},
        {"192.168.1.5:21", "192.168.1.5", 21},
        {"  192.168.1.5  ", "192.168.1.5", 21},
        {"[::1]:2121", "::1", 2121},
        {"[fe80::1]", "fe80::1", 21},
        {"::1", "::1", 21},
        {"", "", 21},
        {"ftp://nas.local", "nas.local", 21},
        {"FTP://nas.local:2121/", "nas.local", 2121},
        {"ftps://nas.local", "nas.local", 21, Ftps},
        {"ftps://192.168.1.5:990", "192.168.1.5", 990, Ftps},
        {"ftps://[::1]:2121", "::1", 2121, Ftps},
        {"sftp://box.example.org", "box.example.org", 22, Sftp},
        {"sftp://box.example.org:2222", "box.example.org", 2222, Sftp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Server_Address address = Parse_Server(c.text);
        EXPECT_EQ(address.Host, c.host);
        EXPECT_EQ(address.Port, c.port);
        EXPECT_EQ(address.Protocol, c.protocol);
    }
    for (const char* bad :
         {"host:", "host:ftp", "host:0", "host:65536", "[::1]x", "[::1", "http://host", "ftps://",
          "ftps://host:99999", "ftpes://host", "ftp://nas/pictures", "host/path:21",
          "ftp://a\r:b://c", "nas\tlocal"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Parse_Server(bad), FTP_Error);
    }
}

} // namespace
} // namespace vistrel
