// A connection the FTP client talks through: plain TCP, or TLS on top of it.
// Every wait ends at a deadline, and another thread can cut a connection
// short at any time without racing the thread that uses it.
#pragma once

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string_view>

namespace vistrel {

using Milliseconds = std::chrono::milliseconds;
using Steady_Clock = std::chrono::steady_clock;
// The moment a wait gives up.
using Deadline = Steady_Clock::time_point;

class Socket_Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A wait that reached its deadline.
class Socket_Timeout : public Socket_Error {
public:
    using Socket_Error::Socket_Error;
};

class Endpoint;

class Byte_Stream {
public:
    virtual ~Byte_Stream() = default;

    // There is somebody to talk to: the connect (and handshake) completed.
    virtual bool Established() const = 0;

    // Sends what the peer takes in one go, at least one byte, waiting for
    // room until the deadline.
    virtual size_t Send_Some(std::string_view bytes, Deadline deadline) = 0;
    void Send_All(std::string_view bytes, Deadline deadline) {
        while (!bytes.empty())
            bytes.remove_prefix(Send_Some(bytes, deadline));
    }

    // What has arrived, up to `capacity` bytes, once something has; 0 when the
    // peer has ended the stream properly. Fails when nothing arrives by the
    // deadline.
    virtual size_t Receive(char* buffer, size_t capacity, Deadline deadline) = 0;

    // Something is waiting to be read (or the peer has closed); never waits.
    // Only the thread that reads may ask.
    virtual bool Has_Input() = 0;

    // Whether the peer has closed or reset the connection, or Shutdown was
    // called; never waits and consumes nothing, so any thread may ask.
    virtual bool Peer_Closed() const = 0;

    // Whether a thread other than the reader may send while it reads.
    virtual bool Sends_Beside_Reader() const = 0;

    virtual Endpoint Peer_Address() const = 0;

    // Ends what we send so that the peer can tell it was not cut off.
    virtual void Finish(Deadline deadline) = 0;

    // Safe from any thread: the connection is cut and every wait on it, now
    // or later, fails at once.
    virtual void Shutdown() noexcept = 0;
};

} // namespace vistrel
