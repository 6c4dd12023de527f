#include "net/server_connector.h"

namespace vistrel {

std::vector<Endpoint> Server_Connector::Look_Up(const Resolver& resolver, const std::string& host,
                                                uint16_t port, Milliseconds limit,
                                                Connect_Slot& slot) {
    if (Is_Numeric_Host(host))
        return IPv4_First(Resolve(host, port)); // digits only: nothing to wait for
    std::shared_ptr<Name_Lookup> lookup;
    Name_Lookup::Ticket ticket = 0;
    {
        // Published before the wait, so that a cut can end it.
        std::lock_guard lock(guard_);
        slot.Throw_If_Cut();
        if (!lookup_ || lookup_->Answered() || lookup_->Host() != host || lookup_->Port() != port)
            lookup_ = std::make_shared<Name_Lookup>(resolver, host, port);
        lookup = lookup_;
        ticket = lookup->Take_Ticket();
    }
    return IPv4_First(lookup->Wait(ticket, After(limit)));
}

std::shared_ptr<Tcp_Socket>
Server_Connector::Connect(const std::string& host, const std::vector<Endpoint>& endpoints,
                          Milliseconds limit, Connect_Slot& slot,
                          const std::function<void(const Endpoint&)>& attempting) {
    if (endpoints.empty())
        throw Socket_Error("no address for " + host);
    for (size_t i = 0;; ++i) {
        if (attempting)
            attempting(endpoints[i]);
        auto socket = std::make_shared<Tcp_Socket>(endpoints[i].Family());
        {
            // Published before the wait, so that a cut can end it.
            std::lock_guard lock(guard_);
            slot.Hold(socket);
        }
        try {
            socket->Connect(endpoints[i], After(limit));
            return socket;
        } catch (const Socket_Error&) {
            const bool last = i + 1 == endpoints.size();
            std::lock_guard lock(guard_);
            if (slot.Let_Go(socket, last) || last)
                throw;
        }
    }
}

void Server_Connector::Interrupt_Locked() noexcept {
    if (lookup_)
        lookup_->Interrupt();
}

void Server_Connector::Abandon_Locked() noexcept {
    if (lookup_)
        lookup_->Abandon();
    lookup_.reset();
}

} // namespace vistrel
