// Host names resolved off the thread that needs them. getaddrinfo cannot be
// interrupted, and a name server that never answers would hold its caller
// for as long as the system's retries last; so the lookup runs on a thread of
// its own, and a caller that stops waiting (its deadline passed, or the
// program is ending) leaves that thread to finish by itself. A later caller
// for the same name waits for the same lookup instead of starting another,
// so that a name server that never answers costs one thread, not one a try.
#pragma once

#include "net/tcp_socket.h"

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
    Name_Lookup(const Name_Lookup&) = delete;
    Name_Lookup& operator=(const Name_Lookup&) = delete;

    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }

    // The resolver has answered, one way or the other.
    bool Answered() const;

    // Names one wait: Interrupt ends the waits of the tickets taken before
    // it.
    using Ticket = uint64_t;
    Ticket Take_Ticket() const;

    // The addresses; fails with the resolver's error, with Socket_Timeout at
    // the deadline, or with Socket_Error once interrupted or abandoned.
    std::vector<Endpoint> Wait(Ticket ticket, Deadline deadline);

    // From any thread: the waits of the tickets taken so far fail at once.
    void Interrupt() noexcept;
    // From any thread: every wait, now or later, fails at once.
    void Abandon() noexcept;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    const std::string host_;
    const uint16_t port_;
};

} // namespace vistrel
