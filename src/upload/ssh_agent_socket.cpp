#include "upload/ssh_agent_socket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vistrel {

namespace {

// How often a connect to an agent whose queue is full is tried again: a
// UNIX socket offers nothing to wait on for room in it.
constexpr Milliseconds kRetry_Every{10};

} // namespace

std::string Agent_Socket_Path() {
    const char* path = std::getenv("SSH_AUTH_SOCK");
    return path != nullptr ? path : "";
}

Agent_Socket::Agent_Socket()
    : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
    if (fd_ < 0)
        throw Socket_Error(std::string("cannot make a socket for the SSH agent: ") +
                           std::strerror(errno));
}

Agent_Socket::~Agent_Socket() {
    ::close(fd_);
}

void Agent_Socket::Connect(const std::string& path, Deadline deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        throw Socket_Error("no usable SSH agent socket");
    std::memcpy(address.sun_path, path.data(), path.size());
    for (;;) {
        if (shut_down_)
            throw Socket_Error("the connection to the SSH agent was cut");
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            break;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN && error != EINPROGRESS)
            throw Socket_Error("cannot reach the SSH agent at " + path + ": " +
                               std::strerror(error));
        if (Steady_Clock::now() >= deadline)
            throw Socket_Timeout("the SSH agent at " + path + " takes no connection");
        std::this_thread::sleep_for(kRetry_Every);
    }
    // A cut that came while connecting found nothing to shut down yet.
    if (shut_down_) {
        ::shutdown(fd_, SHUT_RDWR);
        throw Socket_Error("the connection to the SSH agent was cut");
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) < 0)
        throw Socket_Error(std::string("cannot set up the SSH agent socket: ") +
                           std::strerror(errno));
}

int Agent_Socket::Connect_For_Library(const std::string& path, Deadline deadline) noexcept {
    try {
        Connect(path, deadline);
        const int handed = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        if (handed >= 0)
            return handed;
    } catch (const std::exception&) {
    }
    return ::open("/dev/null", O_RDWR | O_CLOEXEC);
}

void Agent_Socket::Shutdown() noexcept {
    shut_down_ = true;
    ::shutdown(fd_, SHUT_RDWR);
}

Sigpipe_Held::Sigpipe_Held() noexcept {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous_mask_);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
}

Sigpipe_Held::~Sigpipe_Held() {
    // A SIGPIPE raised meanwhile is taken off before the old mask returns,
    // or it would be delivered then.
    if (!was_pending_) {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec now{0, 0};
            while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

} // namespace vistrel
