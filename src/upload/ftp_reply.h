// The FTP control connection's grammar: replies as RFC 959 frames them, and
// the texts of those whose content we read (PWD, PASV, EPSV, FEAT, a
// listing). Plain functions of text, so that they can be fuzzed apart from
// any connection.
#pragma once

#include "net/byte_stream.h"
#include "upload/ftp_session.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace vistrel {

struct Ftp_Reply {
    int Code = 0;
    std::vector<std::string> Text; // without the code in front
    std::string Joined_Text() const;
};

// Whether a line read from the control connection is the last of its reply.
bool Ends_Reply(const std::string& line);

// The most a reply may hold, line ends counted: far beyond any real reply.
inline constexpr size_t kMax_Reply_Size = 1024 * 1024;

// One reply, pulling lines from `next_line` until the line that ends it.
// Fails with Socket_Error, as a broken connection does, once the reply grows
// beyond kMax_Reply_Size: a server that never ends it must not fill memory.
Ftp_Reply Read_Reply(const std::function<std::string()>& next_line);

// The folder a PWD reply's text names, between its first two double quotes;
// empty when it has fewer.
std::string Parse_PWD(const std::string& text);

struct Pasv_Address {
    std::string Host; // as announced, "192.168.1.10"
    uint16_t Port = 0;
};

// The address and port a PASV reply's text announces; fails with FTP_Error
// (code 0) when it holds no such thing.
Pasv_Address Parse_PASV(const std::string& text);

// The port an EPSV reply's text announces between its delimiters, as in
// "Entering Extended Passive Mode (|||50000|)"; fails with FTP_Error (code 0)
// when it holds none.
uint16_t Parse_EPSV(const std::string& text);

// Whether a reply can belong to the command it came after: a three-digit code
// of RFC 959's classes, and a preliminary reply only to a transfer.
bool Reply_In_Step(int code, bool preliminary_allowed);

// What a reply outside those a command accepts means for the picture being
// sent: a final no (5xx) to a folder or a store refuses the picture; one to
// the login or to the protection of the connection refuses us, whatever the
// picture; anything else (a 4xx, a final no to a step every picture takes)
// is worth trying again.
Failure_Kind Reply_Failure_Kind(int code, const std::string& command);

// The lines of a listing, split at CR LF, CR or LF.
std::vector<std::string> Split_Listing(const std::string& bytes);

// Whether FEAT's feature lines name `name` (in capitals), whatever the case
// the server wrote it in and whatever parameters follow it.
bool Lists_Feature(const std::vector<std::string>& features, const std::string& name);

// The command word of a command line, "STOR" of "STOR a.jpg".
std::string First_Word(const std::string& line);

// The first line of a reply's text; empty when it has none.
std::string First_Text(const Ftp_Reply& reply);

// Whether a reply's code is one of those a command accepts.
bool Is_One_Of(int code, std::initializer_list<int> codes);

// Text without the blanks around it; a server pads some replies.
std::string Trim_Blanks(const std::string& text);

// Whether every character is a decimal digit; true of the empty text.
bool All_Digits(const std::string& text);

// A limit as a message says it: "15 s", or "250 ms" when not whole seconds.
std::string Seconds_Text(Milliseconds limit);

} // namespace vistrel
