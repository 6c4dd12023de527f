// The way to a server, the same for the FTP and the SFTP client: its name
// looked up off the caller's thread, then a TCP connect to each of its
// addresses in turn, IPv4 first. Another thread may cut either wait short at
// any moment, the program's close among them. Each client guards what may be
// cut with a mutex of its own; what this piece publishes goes under that same
// mutex, so that a cut made under it always reaches the wait under way.
#pragma once

#include "net/name_lookup.h"
#include "net/tcp_socket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vistrel {

// Where a client keeps the socket being connected, so that its cut reaches
// it. Every call runs under the client's guard.
class Connect_Slot {
public:
    virtual ~Connect_Slot() = default;
    // Fails with Socket_Error when nothing may start any more.
    virtual void Throw_If_Cut() const = 0;
    // `socket`, not connected yet, is now the one a cut shuts.
    virtual void Hold(const std::shared_ptr<Tcp_Socket>& socket) = 0;
    // `socket` failed to connect. Whether a cut came meanwhile, after which
    // no other address is tried; `last` says none is left anyway.
    virtual bool Let_Go(const std::shared_ptr<Tcp_Socket>& socket, bool last) = 0;
};

class Server_Connector {
public:
    // `guard` is the client's; it outlives the connector.
    explicit Server_Connector(std::mutex& guard) : guard_(guard) {}
    Server_Connector(const Server_Connector&) = delete;
    Server_Connector& operator=(const Server_Connector&) = delete;

    // The host's addresses, IPv4 first. Digits are read at once; a name is
    // resolved by `resolver` on a thread of its own, and a lookup an earlier
    // attempt stopped waiting for is waited for again rather than joined by
    // another. Fails with the resolver's error, with Socket_Timeout after
    // `limit`, or with Socket_Error once cut.
    std::vector<Endpoint> Look_Up(const Resolver& resolver, const std::string& host, uint16_t port,
                                  Milliseconds limit, Connect_Slot& slot);

    // The first of `endpoints` that takes a connection within `limit`;
    // `attempting` hears of each before its wait. Fails with the error of the
    // last attempt, or of the one a cut ended.
    std::shared_ptr<Tcp_Socket> Connect(const std::string& host,
                                        const std::vector<Endpoint>& endpoints, Milliseconds limit,
                                        Connect_Slot& slot,
                                        const std::function<void(const Endpoint&)>& attempting);

    // Under the guard, from any thread: the waits for the lookup so far end
    // at once; the next Look_Up of the same host waits for its answer again.
    void Interrupt_Locked() noexcept;
    // Under the guard, from any thread: every wait for the lookup, now or
    // later, ends at once; the next Look_Up starts another.
    void Abandon_Locked() noexcept;

private:
    std::mutex& guard_;
    std::shared_ptr<Name_Lookup> lookup_; // under guard_
};

} // namespace vistrel
