// The connection to the user's SSH agent, made by the program rather than by
// libssh, so that a close can cut it: libssh reads the agent's answers
// without a time limit, and an agent waiting at a PIN dialog, or one that
// never answers, would hold the login and the close with it.
#pragma once

#include "net/byte_stream.h"

#include <atomic>
#include <csignal>
#include <string>

namespace vistrel {

// Where the agent listens: $SSH_AUTH_SOCK, empty when there is none.
std::string Agent_Socket_Path();

class Agent_Socket {
public:
    Agent_Socket();
    ~Agent_Socket();
    Agent_Socket(const Agent_Socket&) = delete;
    Agent_Socket& operator=(const Agent_Socket&) = delete;

    // Connects to the agent's UNIX socket; a full queue is waited on until
    // the deadline. Throws Socket_Error when it cannot, Socket_Timeout at
    // the deadline. The socket is left blocking, as libssh expects.
    void Connect(const std::string& path, Deadline deadline);

    // For a library that closes the descriptor it is given, with the same
    // deadline: a duplicate of the connected socket, or, when the agent
    // cannot be reached (or the socket was cut), a stand-in that takes every
    // request and answers none, so that the library never dials the agent
    // itself, without a limit. -1 when not even that can be opened.
    int Connect_For_Library(const std::string& path, Deadline deadline) noexcept;

    // From any thread: a read or write on the socket, under way or to come,
    // fails at once, and so does a connect. The descriptor stays open until
    // destruction, so a thread still using it never sees it reused.
    void Shutdown() noexcept;
    bool Is_Shut_Down() const { return shut_down_; }

    int Descriptor() const { return fd_; }

private:
    const int fd_;
    std::atomic<bool> shut_down_{false};
};

// While it lives, a write on this thread to a socket that is shut or whose
// peer has gone fails with EPIPE instead of ending the program with SIGPIPE:
// libssh writes to the agent with write(2), which cannot say MSG_NOSIGNAL.
class Sigpipe_Held {
public:
    Sigpipe_Held() noexcept;
    ~Sigpipe_Held();
    Sigpipe_Held(const Sigpipe_Held&) = delete;
    Sigpipe_Held& operator=(const Sigpipe_Held&) = delete;

private:
    sigset_t previous_mask_{};
    bool was_pending_ = false;
};

} // namespace vistrel
