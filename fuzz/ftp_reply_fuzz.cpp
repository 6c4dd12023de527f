// Replies on the FTP control connection, as any server may send them: the
// reader takes one reply at a time, up to the line that ends it and no
// further, and fails only as a broken connection does, whatever the server
// sends and however long it keeps sending.
//
// Input: a mode byte, then the server's lines, each ended by LF (a CR before
// it dropped, as the connection's line reader does). Mode bit 0 clear: the
// connection closes after the last line. Set: the server then sends
// continuation lines of the longest length the line reader takes, forever.

#include "fuzz_support.h"
#include "upload/ftp_reply.h"
#include "net/tcp_socket.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace vistrel;
using fuzz::Shown;

// Far more than any reply the client needs to read, and far less than the
// memory the sanitizers allow us.
constexpr size_t kMost_Served = size_t{64} << 20;
constexpr size_t kMax_Replies = 64;

std::string Trim_Blanks(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool Starts_With_Code(const std::string& line) {
    return line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3,
                                           [](unsigned char c) { return std::isdigit(c) != 0; });
}

class Server {
public:
    Server(const uint8_t* data, size_t size) : endless_((data[0] & 1) != 0) {
        std::string line;
        for (size_t i = 1; i < size; ++i) {
            if (data[i] != '\n') {
                line += static_cast<char>(data[i]);
                continue;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines_.push_back(std::move(line));
            line.clear();
        }
        // Bytes after the last LF make no line: the connection ends first.
    }

    std::string Next_Line() {
        std::string line;
        if (next_ < lines_.size())
            line = lines_[next_++];
        else if (endless_)
            line = std::string(Line_Reader::kMax_Line, 'x');
        else
            throw Socket_Error("connection closed by the peer");
        served_ += line.size() + 2;
        FUZZ_CHECK(served_ <= kMost_Served,
                   "the reply reader is still taking lines after " + std::to_string(served_) +
                       " bytes: a server can make a reply grow without end");
        handed_.push_back(line);
        return line;
    }

    // The lines handed out since the last call.
    std::vector<std::string> Take_Handed() { return std::exchange(handed_, {}); }

private:
    std::vector<std::string> lines_;
    size_t next_ = 0;
    bool endless_;
    size_t served_ = 0;
    std::vector<std::string> handed_;
};

void Check_Reply(const Ftp_Reply& reply, const std::vector<std::string>& handed) {
    // Blank lines before a reply belong to none.
    size_t first = 0;
    while (first < handed.size() && Trim_Blanks(handed[first]).empty())
        ++first;
    FUZZ_CHECK(first < handed.size(), "a reply read from blank lines only");
    const std::string head = Trim_Blanks(handed[first]);
    FUZZ_CHECK(reply.Text.size() == handed.size() - first,
               std::to_string(handed.size() - first) + " lines read into " +
                   std::to_string(reply.Text.size()) + " text lines");
    const size_t last = handed.size() - 1;
    FUZZ_CHECK(Ends_Reply(last == first ? head : handed[last]),
               "the reply stopped at " + Shown(handed[last]));
    for (size_t i = first; i < last; ++i)
        FUZZ_CHECK(!Ends_Reply(i == first ? head : handed[i]),
                   "the reply went on past " + Shown(handed[i]));
    if (Starts_With_Code(head)) {
        FUZZ_CHECK(reply.Code == std::stoi(head.substr(0, 3)),
                   Shown(head) + " read as code " + std::to_string(reply.Code));
        FUZZ_CHECK(reply.Text.front() == (head.size() > 4 ? head.substr(4) : std::string()),
                   "the first text line of " + Shown(head) + " is " + Shown(reply.Text.front()));
    } else {
        FUZZ_CHECK(reply.Code == 0, Shown(head) + " read as code " + std::to_string(reply.Code));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    Server server(data, size);
    for (size_t replies = 0; replies < kMax_Replies; ++replies) {
        Ftp_Reply reply;
        try {
            reply = Read_Reply([&] { return server.Next_Line(); });
        } catch (const Socket_Error&) {
            break;
        }
        Check_Reply(reply, server.Take_Handed());
    }
    return 0;
}
