// An SSH agent that never answers: a UNIX socket that takes connections and
// reads nothing from them, as an agent waiting at a PIN dialog does. Or, not
// taking any, one whose queue is full, so that a connect to it waits.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vistrel::test {

class Silent_Agent {
public:
    enum class Mode { Takes_And_Never_Answers, Queue_Full };

    Silent_Agent(const std::filesystem::path& path, Mode mode) : path_(path.string()) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (listener_ < 0 || path_.size() >= sizeof address.sun_path)
            throw std::runtime_error("cannot make the agent's socket");
        std::memcpy(address.sun_path, path_.data(), path_.size());
        if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, mode == Mode::Queue_Full ? 0 : 8) != 0)
            throw std::runtime_error(std::string("cannot listen as an agent: ") +
                                     std::strerror(errno));
        if (mode == Mode::Queue_Full) {
            Fill_Queue(address);
            return;
        }
        if (::pipe2(wake_, O_CLOEXEC) != 0)
            throw std::runtime_error("cannot make a pipe");
        taker_ = std::thread([this] { Take(); });
    }
    ~Silent_Agent() {
        if (taker_.joinable()) {
            const char stop = 's';
            [[maybe_unused]] const ssize_t written = ::write(wake_[1], &stop, 1);
            taker_.join();
            ::close(wake_[0]);
            ::close(wake_[1]);
        }
        Hang_Up();
        for (const int fd : queued_)
            ::close(fd);
        ::close(listener_);
        ::unlink(path_.c_str());
    }
    Silent_Agent(const Silent_Agent&) = delete;
    Silent_Agent& operator=(const Silent_Agent&) = delete;

    const std::string& Path() const { return path_; }
    // Connections taken so far.
    int Taken() const { return taken_; }
    // Closes the connections taken: whoever waits for an answer on one
    // stops waiting.
    void Hang_Up() {
        std::lock_guard lock(mutex_);
        for (const int fd : connections_)
            ::close(fd);
        connections_.clear();
    }

private:
    void Take() {
        for (;;) {
            pollfd waits[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0 && errno != EINTR)
                return;
            if (waits[1].revents != 0)
                return;
            if (waits[0].revents == 0)
                continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::lock_guard lock(mutex_);
            connections_.push_back(fd);
            ++taken_;
        }
    }

    void Fill_Queue(const sockaddr_un& address) {
        for (int i = 0; i < 16; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                const int error = errno;
                ::close(fd);
                if (error == EAGAIN)
                    return;
                throw std::runtime_error("cannot fill the agent's queue");
            }
            queued_.push_back(fd);
        }
        throw std::runtime_error("the agent's queue does not fill");
    }

    std::string path_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<int> connections_;
    std::vector<int> queued_;
    std::atomic<int> taken_{0};
    std::thread taker_;
};

} // namespace vistrel::test
