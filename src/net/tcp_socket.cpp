#include "net/tcp_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <system_error>
#include <unistd.h>

namespace vistrel {

namespace {

std::string Describe(const Endpoint& peer) {
    return peer.Host() + " port " + std::to_string(peer.Port());
}

std::string Errno_Text(int error) {
    return std::strerror(error);
}

struct Addrinfo_Free {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

} // namespace

Deadline After(Milliseconds limit) {
    if (limit < Milliseconds::zero())
        return Deadline::max();
    return Steady_Clock::now() + limit;
}

Endpoint::Endpoint(const sockaddr* address, socklen_t length) {
    if (length > sizeof address_)
        throw Socket_Error("address too long");
    std::memcpy(&address_, address, length);
    length_ = length;
}

std::string Endpoint::Host() const {
    char text[NI_MAXHOST] = {};
    if (::getnameinfo(Address(), length_, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        return "?";
    return text;
}

uint16_t Endpoint::Port() const {
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address_)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address_)->sin_port);
}

Endpoint Endpoint::With_Port(uint16_t port) const {
    Endpoint moved = *this;
    if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&moved.address_)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(&moved.address_)->sin_port = htons(port);
    return moved;
}

bool Is_Numeric_Host(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::vector<Endpoint> Resolve(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (Is_Numeric_Host(host) ? AI_NUMERICHOST : AI_ADDRCONFIG);
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0)
        throw Socket_Error("cannot resolve " + host + ": " + ::gai_strerror(status));
    const std::unique_ptr<addrinfo, Addrinfo_Free> list(found);
    std::vector<Endpoint> endpoints;
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next)
        endpoints.emplace_back(entry->ai_addr, entry->ai_addrlen);
    if (endpoints.empty())
        throw Socket_Error("no address for " + host);
    return endpoints;
}

std::vector<Endpoint> IPv4_First(std::vector<Endpoint> endpoints) {
    std::stable_partition(endpoints.begin(), endpoints.end(),
                          [](const Endpoint& e) { return e.Family() == AF_INET; });
    return endpoints;
}

Tcp_Socket::Tcp_Socket(int family)
    : fd_(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP)) {
    if (fd_ < 0)
        throw Socket_Error("cannot create a socket: " + Errno_Text(errno));
}

Tcp_Socket::~Tcp_Socket() {
    ::close(fd_);
}

void Tcp_Socket::Connect(const Endpoint& peer, Deadline deadline) {
    {
        std::lock_guard lock(connect_mutex_);
        Throw_If_Shut_Down();
        if (::connect(fd_, peer.Address(), peer.Length()) == 0) {
            established_ = true;
            return;
        }
        if (errno != EINPROGRESS && errno != EINTR)
            throw Socket_Error("cannot connect to " + Describe(peer) + ": " + Errno_Text(errno));
    }
    Wait_For(POLLOUT, deadline, ("no connection to " + Describe(peer)).c_str());
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0)
        throw Socket_Error("cannot connect to " + Describe(peer) + ": " + Errno_Text(error));
    established_ = true;
}

size_t Tcp_Socket::Send_Some(std::string_view bytes, Deadline deadline) {
    if (bytes.empty())
        return 0;
    for (;;) {
        Throw_If_Shut_Down();
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0)
            return static_cast<size_t>(sent);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            Wait_For(POLLOUT, deadline, "the peer accepted no data");
        } else if (sent < 0 && errno != EINTR) {
            const int error = errno;
            Throw_If_Shut_Down();
            throw Socket_Error("connection broken: " + Errno_Text(error));
        }
    }
}

size_t Tcp_Socket::Receive(char* buffer, size_t capacity, Deadline deadline) {
    for (;;) {
        Throw_If_Shut_Down();
        const ssize_t received = ::recv(fd_, buffer, capacity, 0);
        if (received > 0)
            return static_cast<size_t>(received);
        if (received == 0) {
            // Our own shutdown also reads as the end of the stream.
            Throw_If_Shut_Down();
            return 0;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Wait_For(POLLIN, deadline, "nothing received");
        } else if (errno != EINTR) {
            const int error = errno;
            Throw_If_Shut_Down();
            throw Socket_Error("connection broken: " + Errno_Text(error));
        }
    }
}

Endpoint Tcp_Socket::Peer_Address() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw Socket_Error("not connected: " + Errno_Text(errno));
    return Endpoint(reinterpret_cast<const sockaddr*>(&address), length);
}

bool Tcp_Socket::Has_Input() {
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

bool Tcp_Socket::Peer_Closed() const {
    if (shut_down_)
        return true;
    pollfd entry{fd_, POLLIN | POLLRDHUP, 0};
    if (::poll(&entry, 1, 0) <= 0)
        return false;
    return (entry.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void Tcp_Socket::Send_Without_Delay() {
    const int on = 1;
    if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        const std::error_code error(errno, std::generic_category());
        throw Socket_Error("cannot send small writes at once: " + error.message());
    }
}

void Tcp_Socket::Shutdown() noexcept {
    std::lock_guard lock(connect_mutex_);
    shut_down_ = true;
    // Wakes every poll on the descriptor, also that of a connect under way.
    ::shutdown(fd_, SHUT_RDWR);
}

void Tcp_Socket::Wait_For(short events, Deadline deadline, const char* what) {
    for (;;) {
        int timeout = -1;
        if (deadline != Deadline::max()) {
            const auto left = std::chrono::ceil<Milliseconds>(deadline - Steady_Clock::now());
            // poll counts in int milliseconds: a far deadline is waited for in
            // pieces.
            timeout = static_cast<int>(std::clamp<Milliseconds::rep>(left.count(), 0, 1 << 30));
        }
        pollfd entry{fd_, events, 0};
        const int ready = ::poll(&entry, 1, timeout);
        Throw_If_Shut_Down();
        if (ready > 0)
            return; // readiness or an error: the call that follows tells which
        if (ready == 0 && Steady_Clock::now() >= deadline)
            throw Socket_Timeout(std::string(what) + " in time");
        if (ready == 0)
            continue;
        if (errno != EINTR)
            throw Socket_Error("cannot wait on a socket: " + Errno_Text(errno));
    }
}

void Tcp_Socket::Throw_If_Shut_Down() const {
    if (shut_down_)
        throw Socket_Error("connection closed");
}

std::string Line_Reader::Read_Line(Byte_Stream& stream, Deadline deadline) {
    size_t searched = 0;
    for (;;) {
        const size_t end = buffer_.find('\n', searched);
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (buffer_.size() > kMax_Line)
            throw Socket_Error("line longer than " + std::to_string(kMax_Line) + " bytes");
        searched = buffer_.size();
        char chunk[4096];
        const size_t received = stream.Receive(chunk, sizeof chunk, deadline);
        if (received == 0)
            throw Socket_Error("connection closed by the peer");
        buffer_.append(chunk, received);
    }
}

} // namespace vistrel
