// Host names resolved off the thread that needs them. getaddrinfo cannot be
// interrupted, and a name server that never answers would hold its caller
// for as long as the system's retries last; so the lookup runs on a thread of
// its own, and a caller that stops waiting (its deadline passed, or the
// program is ending) leaves that thread to finish by itself.
#pragma once

#include "upload/tcp_socket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vistrel {

// Every address of a host, or a Socket_Error; may block for any time.
using Resolver = std::function<std::vector<Endpoint>(const std::string& host, uint16_t port)>;

class Name_Lookup {
public:
    // Starts resolving at once.
    Name_Lookup(Resolver resolver, std::string host, uint16_t port);
    ~Name_Lookup(); // abandons a lookup still under way
    Name_Lookup(const Name_Lookup&) = delete;
    Name_Lookup& operator=(const Name_Lookup&) = delete;

    // The addresses; fails with the resolver's error, with Socket_Timeout at
    // the deadline, or with Socket_Error once abandoned.
    std::vector<Endpoint> Wait(Deadline deadline);

    // From any thread: a Wait under way, or any later one, fails at once.
    void Abandon() noexcept;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::string host_;
};

} // namespace vistrel
