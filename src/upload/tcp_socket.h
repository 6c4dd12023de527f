// A TCP client connection over POSIX sockets, for the program's few network
// conversations. Every wait ends at a deadline, and another thread can cut a
// connection short at any time without racing the thread that uses it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

namespace vistrel {

using Milliseconds = std::chrono::milliseconds;
using Steady_Clock = std::chrono::steady_clock;
// The moment a wait gives up.
using Deadline = Steady_Clock::time_point;

// A wait that lasts as long as the operating system lets it.
inline constexpr Milliseconds kNo_Limit{-1};

// The deadline `limit` from now; none for kNo_Limit.
Deadline After(Milliseconds limit);

class Socket_Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A wait that reached its deadline.
class Socket_Timeout : public Socket_Error {
public:
    using Socket_Error::Socket_Error;
};

// One address and port to connect to.
class Endpoint {
public:
    Endpoint(const sockaddr* address, socklen_t length);

    int Family() const { return address_.ss_family; }
    const sockaddr* Address() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t Length() const { return length_; }
    std::string Host() const; // numeric
    uint16_t Port() const;
    Endpoint With_Port(uint16_t port) const;

private:
    sockaddr_storage address_{};
    socklen_t length_ = 0;
};

// An IPv4 or IPv6 address written out in digits, which needs no resolving.
bool Is_Numeric_Host(const std::string& host);

// Every address `host` stands for, in the resolver's order of preference.
std::vector<Endpoint> Resolve(const std::string& host, uint16_t port);

// The same addresses with the IPv4 ones first, each family in its own order.
std::vector<Endpoint> IPv4_First(std::vector<Endpoint> endpoints);

class Tcp_Socket {
public:
    explicit Tcp_Socket(int family);
    ~Tcp_Socket();
    Tcp_Socket(const Tcp_Socket&) = delete;
    Tcp_Socket& operator=(const Tcp_Socket&) = delete;

    void Connect(const Endpoint& peer, Deadline deadline);

    // The connect has completed: until then there is nobody to talk to.
    bool Established() const { return established_; }

    // Sends what the peer takes in one go, at least one byte, waiting for
    // room until the deadline.
    size_t Send_Some(std::string_view bytes, Deadline deadline);
    void Send_All(std::string_view bytes, Deadline deadline);

    // What has arrived, up to `capacity` bytes, once something has; 0 when the
    // peer has closed its side. Fails when nothing arrives by the deadline.
    size_t Receive(char* buffer, size_t capacity, Deadline deadline);

    // Something is waiting to be read (or the peer has closed); never waits.
    bool Has_Input() const;

    Endpoint Peer_Address() const;

    // Whether the peer has closed or reset the connection, or Shutdown was
    // called; never waits and consumes nothing, so any thread may ask.
    bool Peer_Closed() const;

    // Safe from any thread: the connection is cut and every wait on it, now
    // or later, fails at once. The descriptor stays open until destruction, so
    // a thread still polling it never sees it reused.
    void Shutdown() noexcept;

private:
    void Wait_For(short events, Deadline deadline, const char* what);
    void Throw_If_Shut_Down() const;

    const int fd_;
    // Orders Shutdown against the start of a connect, which shutdown(2) would
    // otherwise miss on a socket that is not connecting yet.
    std::mutex connect_mutex_;
    std::atomic<bool> shut_down_{false};
    std::atomic<bool> established_{false};
};

// Splits what arrives on a connection into lines ended by CR LF or LF; bytes
// after the line returned stay for the next call.
class Line_Reader {
public:
    static constexpr size_t kMax_Line = 64 * 1024;

    // The next line without its line break. Fails when the peer closes first,
    // the deadline passes, or a line grows beyond kMax_Line.
    std::string Read_Line(Tcp_Socket& socket, Deadline deadline);

    // Bytes received but not yet returned as a line.
    bool Holds_Bytes() const { return !buffer_.empty(); }
    // A whole line received and not yet returned.
    bool Holds_Line() const { return buffer_.find('\n') != std::string::npos; }
    void Clear() { buffer_.clear(); }

private:
    std::string buffer_;
};

} // namespace vistrel
