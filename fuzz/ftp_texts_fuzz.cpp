// The texts the FTP client picks apart: a PWD reply, a PASV reply, the
// server field of the window and a directory listing. Any text must be read
// or refused with an FTP_Error, and what is read must hold together.
//
// Input: any text, given to each of them; its first bytes also make the
// folder and the numbers of replies built to be read back.

#include "fuzz_support.h"
#include "upload/ftp_reply.h"
#include "upload/server_address.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace vistrel;
using fuzz::Shown;

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i)
        out += (i == 0 ? "" : separator) + parts[i];
    return out;
}

// A dotted IPv4 address as std::to_string writes its four numbers.
bool Is_Dotted_Quad(const std::string& host) {
    std::vector<std::string> parts(1);
    for (const char c : host) {
        if (c == '.')
            parts.emplace_back();
        else if (c >= '0' && c <= '9')
            parts.back() += c;
        else
            return false;
    }
    if (parts.size() != 4)
        return false;
    for (const std::string& part : parts)
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0') ||
            std::stoi(part) > 255)
            return false;
    return true;
}

std::string Pasv_Numbers(const Pasv_Address& address) {
    std::string numbers = address.Host;
    for (char& c : numbers)
        if (c == '.')
            c = ',';
    return numbers + "," + std::to_string(address.Port / 256) + "," +
           std::to_string(address.Port % 256);
}

void Check_Pwd(const std::string& text) {
    const std::string folder = Parse_PWD(text);
    FUZZ_CHECK(folder.find('"') == std::string::npos, Shown(folder) + " holds a quote");
    if (!folder.empty())
        FUZZ_CHECK(text.find('"' + folder + '"') == text.find('"'),
                   Shown(folder) + " is not what the first quotes of " + Shown(text) + " hold");
    const std::string named = text.substr(0, text.find('"'));
    const std::string reply = "\"" + named + "\" is the current directory";
    FUZZ_CHECK(Parse_PWD(reply) == named, Shown(reply) + " read as " + Shown(Parse_PWD(reply)));
}

void Check_Pasv(const std::string& text) {
    try {
        const Pasv_Address address = Parse_PASV(text);
        FUZZ_CHECK(Is_Dotted_Quad(address.Host), Shown(address.Host) + " from " + Shown(text));
        const std::string again = "Entering Passive Mode (" + Pasv_Numbers(address) + ")";
        const Pasv_Address reread = Parse_PASV(again);
        FUZZ_CHECK(reread.Host == address.Host && reread.Port == address.Port,
                   Shown(text) + " and " + Shown(again) + " read differently");
    } catch (const FTP_Error& e) {
        FUZZ_CHECK(e.Code() == 0, "code " + std::to_string(e.Code()) + " for " + Shown(text));
    }
}

// A reply built from six bytes reads as those six numbers, whichever way the
// server lays it out.
void Check_Built_Pasv(const uint8_t* bytes) {
    std::vector<std::string> numbers;
    for (size_t i = 0; i < 6; ++i)
        numbers.push_back(std::to_string(bytes[i]));
    const std::string host = numbers[0] + "." + numbers[1] + "." + numbers[2] + "." + numbers[3];
    const uint16_t port = static_cast<uint16_t>(bytes[4] * 256 + bytes[5]);
    for (const std::string& text :
         {"Entering Passive Mode (" + Joined(numbers, ",") + ")",
          "Entering Passive Mode (" + Joined(numbers, ",") + ").",
          "  Entering Passive Mode " + Joined(numbers, ",") + "  ",
          "Passive (" + Joined(numbers, ", ") + ") ok", Joined(numbers, ",")}) {
        const Pasv_Address address = Parse_PASV(text);
        FUZZ_CHECK(address.Host == host && address.Port == port, Shown(text) + " read as " +
                                                                     address.Host + " port " +
                                                                     std::to_string(address.Port));
    }
}

void Check_Server(const std::string& text) {
    Server_Address address;
    try {
        address = Parse_Server(text);
    } catch (const FTP_Error& e) {
        FUZZ_CHECK(e.Code() == 0, "code " + std::to_string(e.Code()) + " for " + Shown(text));
        return;
    }
    FUZZ_CHECK(address.Port != 0, Shown(text) + " gives port 0");
    // Written back the way the window shows a server, a host that can be
    // written so reads the same.
    const std::string& host = address.Host;
    if (host.find(']') != std::string::npos || host.starts_with('[') || host.starts_with(' ') ||
        host.ends_with(' '))
        return;
    const std::string again = (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                              ":" + std::to_string(address.Port);
    const Server_Address reread = Parse_Server(again);
    FUZZ_CHECK(reread.Host == host && reread.Port == address.Port,
               Shown(text) + " and " + Shown(again) + " read differently");
}

// The lines hold no line break, and put back together with LF they are the
// listing with each of its line breaks made an LF, but for the last one.
void Check_Listing(const std::string& bytes) {
    const std::vector<std::string> lines = Split_Listing(bytes);
    for (const std::string& line : lines)
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, Shown(line));
    std::string unified;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        unified += bytes[i] == '\r' ? '\n' : bytes[i];
    }
    const size_t breaks = static_cast<size_t>(std::count(unified.begin(), unified.end(), '\n'));
    const bool unended = !unified.empty() && unified.back() != '\n';
    FUZZ_CHECK(lines.size() == breaks + (unended ? 1 : 0),
               Shown(bytes) + " split into " + std::to_string(lines.size()) + " lines");
    if (!unended && !unified.empty())
        unified.pop_back();
    FUZZ_CHECK(Joined(lines, "\n") == unified, Shown(bytes) + " split otherwise");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Check_Pwd(text);
    Check_Pasv(text);
    if (size >= 6)
        Check_Built_Pasv(data);
    Check_Server(text);
    Check_Listing(text);
    return 0;
}
