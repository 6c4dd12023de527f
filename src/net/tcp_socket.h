// A TCP client connection over POSIX sockets, for the program's few network
// conversations.
#pragma once

#include "net/byte_stream.h"

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

// A wait that lasts as long as the operating system lets it.
inline constexpr Milliseconds kNo_Limit{-1};

// The deadline `limit` from now; none for kNo_Limit.
Deadline After(Milliseconds limit);

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

class Tcp_Socket : public Byte_Stream {
public:
    explicit Tcp_Socket(int family);
    ~Tcp_Socket() override;
    Tcp_Socket(const Tcp_Socket&) = delete;
    Tcp_Socket& operator=(const Tcp_Socket&) = delete;

    void Connect(const Endpoint& peer, Deadline deadline);

    // Small writes leave at once instead of waiting for the peer's delayed
    // acknowledgement of the last one: for protocols where each request
    // waits for its answer.
    void Send_Without_Delay();

    // The connect has completed: until then there is nobody to talk to.
    bool Established() const override { return established_; }

    size_t Send_Some(std::string_view bytes, Deadline deadline) override;
    size_t Receive(char* buffer, size_t capacity, Deadline deadline) override;
    bool Has_Input() override;
    bool Peer_Closed() const override;
    bool Sends_Beside_Reader() const override { return true; }
    Endpoint Peer_Address() const override;
    // Closing the socket is end enough.
    void Finish(Deadline) override {}

    // The descriptor stays open until destruction, so a thread still polling
    // it never sees it reused.
    void Shutdown() noexcept override;

    // For a layer on top that reads and writes the descriptor itself: waits
    // for readiness (POLLIN or POLLOUT) until the deadline, and fails at once
    // after Shutdown.
    int Descriptor() const { return fd_; }
    void Wait_For(short events, Deadline deadline, const char* what);
    void Throw_If_Shut_Down() const;

private:
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
    std::string Read_Line(Byte_Stream& stream, Deadline deadline);

    // Bytes received but not yet returned as a line.
    bool Holds_Bytes() const { return !buffer_.empty(); }
    // A whole line received and not yet returned.
    bool Holds_Line() const { return buffer_.find('\n') != std::string::npos; }
    void Clear() { buffer_.clear(); }

private:
    std::string buffer_;
};

} // namespace vistrel
