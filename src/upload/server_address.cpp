#include "upload/server_address.h"

#include "upload/ftp_reply.h"

#include <algorithm>
#include <cctype>

namespace vistrel {

namespace {

uint16_t Parse_Port(const std::string& text, const std::string& server) {
    const unsigned long port =
        (!text.empty() && text.size() <= 5 && All_Digits(text)) ? std::stoul(text) : 0;
    if (port == 0 || port > 65535)
        throw FTP_Error(0, "invalid port in the server address " + server);
    return static_cast<uint16_t>(port);
}

} // namespace

Server_Address Parse_Server(const std::string& text) {
    std::string server = Trim_Blanks(text);
    Server_Address address;
    if (const size_t scheme_end = server.find("://"); scheme_end != std::string::npos) {
        std::string scheme = server.substr(0, scheme_end);
        std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (scheme == "ftps")
            address.Protocol = Transfer_Protocol::Ftps;
        else if (scheme == "sftp")
            address.Protocol = Transfer_Protocol::Sftp;
        else if (scheme != "ftp")
            throw FTP_Error(0, "unknown scheme in the server address " + server);
        if (address.Protocol == Transfer_Protocol::Sftp)
            address.Port = 22;
        server.erase(0, scheme_end + 3);
        if (server.ends_with('/'))
            server.pop_back();
        if (server.empty())
            throw FTP_Error(0, "no host in the server address " + Trim_Blanks(text));
    }
    if (server.starts_with('[')) {
        const size_t close = server.find(']');
        const std::string rest = close == std::string::npos ? "?" : server.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            throw FTP_Error(0, "invalid server address " + server);
        address.Host = server.substr(1, close - 1);
        if (!rest.empty())
            address.Port = Parse_Port(rest.substr(1), server);
    } else if (const size_t colon = server.find(':');
               colon != std::string::npos && server.find(':', colon + 1) == std::string::npos) {
        address.Host = server.substr(0, colon);
        address.Port = Parse_Port(server.substr(colon + 1), server);
    } else {
        address.Host = server; // a name, an IPv4 address or a bare IPv6 address
    }
    // A path or a control character never names a host; refused here, the
    // user reads what is wrong with the field instead of a lookup failure.
    if (std::any_of(address.Host.begin(), address.Host.end(),
                    [](unsigned char c) { return c == '/' || c < 0x20 || c == 0x7f; }))
        throw FTP_Error(0, "invalid server address " + server);
    return address;
}

} // namespace vistrel
