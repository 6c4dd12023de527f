// The server field as the user writes it: which protocol, which host, which
// port. Read the same way for FTP, FTPS and SFTP.
#pragma once

#include "upload/ftp_session.h"

#include <cstdint>
#include <string>

namespace vistrel {

enum class Transfer_Protocol { Ftp, Ftps, Sftp };

struct Server_Address {
    Transfer_Protocol Protocol = Transfer_Protocol::Ftp;
    std::string Host;
    uint16_t Port = 21;
};

// "host", "host:port", "[v6 address]:port" or a bare IPv6 address, each
// optionally after "ftp://" (plain), "ftps://" (explicit TLS) or "sftp://"
// (port 22 by default); fails with FTP_Error (code 0) on another scheme or a
// port that is no number from 1 to 65535.
Server_Address Parse_Server(const std::string& text);

} // namespace vistrel
