#include "upload/ftp_reply.h"

#include <algorithm>
#include <initializer_list>

namespace vistrel {

Failure_Kind Reply_Failure_Kind(int code, const std::string& command) {
    const auto is = [&command](std::initializer_list<const char*> words) {
        return std::any_of(words.begin(), words.end(),
                           [&command](const char* word) { return command == word; });
    };
    // An account would be needed, and none can be configured.
    if (code == 332 && command == "PASS")
        return Failure_Kind::Server_Refused;
    if (code < 500 || code > 599)
        return Failure_Kind::Connection;
    // A refused protection of the data refuses every picture alike: counting
    // it against each would empty the queue while the server is set up wrong.
    if (is({"USER", "PASS", "AUTH", "PBSZ", "PROT"}))
        return Failure_Kind::Server_Refused;
    // Logged out behind our back: a new login may well do.
    if (code == 530)
        return Failure_Kind::Connection;
    if (is({"CWD", "MKD", "STOR", "APPE"}))
        return Failure_Kind::Refused;
    return Failure_Kind::Connection;
}

} // namespace vistrel
