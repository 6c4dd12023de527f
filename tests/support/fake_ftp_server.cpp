#include "support/fake_ftp_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>

extern char** environ;

namespace vistrel::test {

namespace {

constexpr int kPatience_ms =
    static_cast<int>(std::chrono::milliseconds(Fake_Ftp_Server::kPatience).count());

void Send_All(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return; // the client is gone; the test sees what it got
        sent += static_cast<size_t>(count);
    }
}

std::string With_Crlf(const std::string& lines) {
    std::string text;
    for (const char c : lines) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    return text + "\r\n";
}

} // namespace

namespace {

Unique_Fd Bound_Loopback_Socket(int receive_buffer, int family) {
    Unique_Fd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        throw std::runtime_error("cannot create a socket");
    if (receive_buffer > 0)
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    int bound = -1;
    if (family == AF_INET6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        bound = ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound = ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (bound != 0)
        throw std::runtime_error("cannot bind on the loopback interface");
    return fd;
}

} // namespace

Unique_Fd Listen_On_Loopback(int receive_buffer, int family) {
    Unique_Fd fd = Bound_Loopback_Socket(receive_buffer, family);
    if (::listen(fd.Get(), 4) != 0)
        throw std::runtime_error("cannot listen on the loopback interface");
    return fd;
}

uint16_t Local_Port(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

Full_Listener::Full_Listener() : listener(Bound_Loopback_Socket(0, AF_INET)) {
    // A backlog of 0 holds one connection; once it is taken the system drops
    // every further attempt instead of answering it.
    if (::listen(listener.Get(), 0) != 0)
        throw std::runtime_error("cannot listen on the loopback interface");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(Port());
    for (int i = 0; i < 8; ++i) {
        Unique_Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        queued.push_back(std::move(fd));
    }
    // Lets the handshakes that can complete do so before anyone else comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

uint16_t Full_Listener::Port() const {
    return Local_Port(listener.Get());
}

Fake_Ftp_Server::Fake_Ftp_Server(std::vector<Ftp_Step> script, int family)
    : script_(std::move(script)), family_(family), listener_(Listen_On_Loopback(0, family)) {
    port_ = Local_Port(listener_.Get());
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe");
    wake_reader_ = Unique_Fd(pipe_fds[0]);
    wake_writer_ = Unique_Fd(pipe_fds[1]);
    thread_ = std::thread([this] { Run(); });
}

Fake_Ftp_Server::~Fake_Ftp_Server() {
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_writer_.Get(), &stop, 1);
    thread_.join();
}

std::vector<std::string> Fake_Ftp_Server::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<std::string> Fake_Ftp_Server::Stored() const {
    std::lock_guard lock(mutex_);
    return stored_;
}

std::vector<std::string> Fake_Ftp_Server::Mismatches() const {
    std::lock_guard lock(mutex_);
    return mismatches_;
}

bool Fake_Ftp_Server::Wait_Until_Closed(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return closed_; });
}

bool Fake_Ftp_Server::Wait_Until_Stalling(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return stalling_; });
}

int Fake_Ftp_Server::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void Fake_Ftp_Server::Run() {
    Unique_Fd control = Accept(listener_.Get(), "the control connection");
    if (control) {
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        bool going = true;
        for (size_t i = 0; going && i < script_.size(); ++i)
            going = Run_Step(script_[i], control);
        if (going)
            Record_Tail(control.Get());
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

struct Fake_Ftp_Server::Tls {
    ~Tls() {
        SSL_free(ssl);
        SSL_CTX_free(context);
    }
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
};

bool Fake_Ftp_Server::Accept_Tls(int control, const std::string& pem_file) {
    tls_ = std::make_unique<Tls>();
    tls_->context = SSL_CTX_new(TLS_server_method());
    if (tls_->context == nullptr ||
        SSL_CTX_use_certificate_chain_file(tls_->context, pem_file.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_->context, pem_file.c_str(), SSL_FILETYPE_PEM) != 1) {
        Mismatch("cannot load the certificate " + pem_file);
        return false;
    }
    tls_->ssl = SSL_new(tls_->context);
    SSL_set_fd(tls_->ssl, control);
    // The handshake blocks: a client that never ends it is given up on.
    const timeval patience{Fake_Ftp_Server::kPatience.count(), 0};
    ::setsockopt(control, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    if (SSL_accept(tls_->ssl) != 1) {
        Mismatch("the TLS handshake failed");
        return false;
    }
    return true;
}

void Fake_Ftp_Server::Send_Control(int control, const std::string& bytes) {
    if (!tls_) {
        Send_All(control, bytes);
        return;
    }
    if (!bytes.empty())
        SSL_write(tls_->ssl, bytes.data(), static_cast<int>(bytes.size()));
}

ssize_t Fake_Ftp_Server::Receive_Control(int control, char* buffer, size_t capacity) {
    if (!tls_)
        return ::recv(control, buffer, capacity, 0);
    return SSL_read(tls_->ssl, buffer, static_cast<int>(capacity));
}

bool Fake_Ftp_Server::Run_Step(const Ftp_Step& step, Unique_Fd& control_fd) {
    std::string line;
    const int control = control_fd.Get();
    switch (step.kind) {
    case Ftp_Step::Kind::Reconnect: {
        // What the client still says on its way out is recorded, not
        // answered.
        while (Read_Line(control, line, false)) {
        }
        pending_.clear();
        tls_.reset();
        control_fd = Accept(listener_.Get(), "the next control connection");
        std::lock_guard lock(mutex_);
        stalling_ = false;
        if (control_fd)
            ++connections_;
        return static_cast<bool>(control_fd);
    }
    case Ftp_Step::Kind::Drip:
        return Send_Slowly(control, With_Crlf(step.text));
    case Ftp_Step::Kind::Trickle: {
        const Unique_Fd data = Accept(data_listener_.Get(), "the data connection");
        return data && Send_Slowly(data.Get(), step.text);
    }
    case Ftp_Step::Kind::Send:
        Send_Control(control, With_Crlf(step.text));
        return true;
    case Ftp_Step::Kind::Start_Tls:
        return Accept_Tls(control, step.text);
    case Ftp_Step::Kind::Expect:
    case Ftp_Step::Kind::Passive: {
        // Over IPv6 a client asks for an extended passive connection.
        const std::string passive = family_ == AF_INET6 ? "EPSV" : "PASV";
        const std::string expected = step.kind == Ftp_Step::Kind::Expect ? step.text : passive;
        if (!Read_Line(control, line)) {
            Mismatch("the connection ended before " + expected);
            return false;
        }
        if (line != expected)
            Mismatch("expected '" + expected + "', got '" + line + "'");
        if (step.kind == Ftp_Step::Kind::Expect)
            return true;
        // A small receive buffer makes a store stall as soon as the server
        // stops reading, instead of megabytes later.
        data_listener_ = Listen_On_Loopback(4096, family_);
        const uint16_t port = Local_Port(data_listener_.Get());
        if (family_ == AF_INET6) {
            Send_Control(control, With_Crlf("229 Entering Extended Passive Mode (|||" +
                                            std::to_string(port) + "|)"));
            return true;
        }
        std::string address = step.text;
        std::replace(address.begin(), address.end(), '.', ',');
        Send_Control(control, With_Crlf("227 Entering Passive Mode (" + address + "," +
                                        std::to_string(port / 256) + "," +
                                        std::to_string(port % 256) + ")."));
        return true;
    }
    case Ftp_Step::Kind::Serve: {
        const Unique_Fd data = Accept(data_listener_.Get(), "the data connection");
        Send_All(data.Get(), step.text);
        return static_cast<bool>(data);
    }
    case Ftp_Step::Kind::Receive: {
        const Unique_Fd data = Accept(data_listener_.Get(), "the data connection");
        std::string bytes;
        char chunk[16384];
        while (data && Wait_Readable(data.Get(), "stored bytes")) {
            const ssize_t count = ::recv(data.Get(), chunk, sizeof chunk, 0);
            if (count <= 0)
                break;
            bytes.append(chunk, static_cast<size_t>(count));
        }
        std::lock_guard lock(mutex_);
        stored_.push_back(std::move(bytes));
        return static_cast<bool>(data);
    }
    case Ftp_Step::Kind::Stall: {
        const Unique_Fd data = Accept(data_listener_.Get(), "the data connection");
        {
            std::lock_guard lock(mutex_);
            stalling_ = static_cast<bool>(data);
            changed_.notify_all();
        }
        const bool command_waiting = pending_.find('\n') != std::string::npos;
        return data && (command_waiting || Wait_Readable(control, "the end of a stall"));
    }
    case Ftp_Step::Kind::Close:
        ::shutdown(control, SHUT_WR);
        Record_Tail(control);
        return false;
    }
    return false;
}

void Fake_Ftp_Server::Record_Tail(int control) {
    std::string line;
    while (Read_Line(control, line, false))
        Send_Control(control, With_Crlf(line == "QUIT" ? "221 Goodbye." : "500 Unexpected."));
}

bool Fake_Ftp_Server::Wait_Readable(int fd, const char* what, bool report) {
    pollfd entries[2] = {{fd, POLLIN, 0}, {wake_reader_.Get(), POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(entries, 2, kPatience_ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && entries[1].revents == 0)
            return true;
        if (ready == 0 && report)
            Mismatch(std::string("no ") + what + " within the server's patience");
        return false;
    }
}

bool Fake_Ftp_Server::Send_Slowly(int fd, const std::string& bytes) {
    for (const char c : bytes) {
        if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1)
            return false;
        pollfd wake{wake_reader_.Get(), POLLIN, 0};
        if (::poll(&wake, 1, 50) > 0)
            return false;
    }
    return true;
}

Unique_Fd Fake_Ftp_Server::Accept(int listener, const char* what) {
    if (listener < 0) {
        Mismatch(std::string("no listener for ") + what);
        return {};
    }
    if (!Wait_Readable(listener, what))
        return {};
    Unique_Fd fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    const timeval patience{Fake_Ftp_Server::kPatience.count(), 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    return fd;
}

bool Fake_Ftp_Server::Read_Line(int control, std::string& line, bool report) {
    for (;;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::lock_guard lock(mutex_);
            commands_.push_back(line);
            return true;
        }
        const bool decrypted_waiting = tls_ && SSL_pending(tls_->ssl) > 0;
        if (!decrypted_waiting && !Wait_Readable(control, "command", report))
            return false;
        char chunk[4096];
        const ssize_t count = Receive_Control(control, chunk, sizeof chunk);
        if (count <= 0)
            return false;
        pending_.append(chunk, static_cast<size_t>(count));
    }
}

void Fake_Ftp_Server::Mismatch(const std::string& text) {
    std::lock_guard lock(mutex_);
    mismatches_.push_back(text);
}

uint16_t Unused_Port() {
    // Nothing listens once the socket is closed; nothing else on the machine
    // takes a port the kernel just handed out that quickly.
    return Local_Port(Listen_On_Loopback().Get());
}

Pyftpdlib_Server::Pyftpdlib_Server(std::string refused_name, std::string tls_certificate)
    : refused_name_(std::move(refused_name)), tls_certificate_(std::move(tls_certificate)) {
    Start(0);
}

void Pyftpdlib_Server::Pause() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGSTOP);
    // The signal is only on its way when kill returns; the test goes on
    // once the server has stopped.
    int status = 0;
    ::waitpid(pid_, &status, WUNTRACED);
}

void Pyftpdlib_Server::Resume() {
    if (pid_ > 0)
        ::kill(pid_, SIGCONT);
}

void Pyftpdlib_Server::Kill() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void Pyftpdlib_Server::Restart() {
    Stop();
    Start(port_);
}

void Pyftpdlib_Server::Start(uint16_t port) {
    const std::string script =
        (std::filesystem::path(__FILE__).parent_path() / "ftp_server.py").string();
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe");
    const Unique_Fd reader(pipe_fds[0]);
    Unique_Fd writer(pipe_fds[1]);

    int lifeline_fds[2];
    if (::pipe2(lifeline_fds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe");
    const Unique_Fd lifeline_reader(lifeline_fds[0]);
    lifeline_ = Unique_Fd(lifeline_fds[1]);
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.push_back(*entry);
    std::string lifeline_flag = "VISTREL_FTP_STDIN_LIFELINE=1";
    environment.push_back(lifeline_flag.data());
    std::string certificate_setting = "VISTREL_FTP_TLS_CERT=" + tls_certificate_;
    if (!tls_certificate_.empty())
        environment.push_back(certificate_setting.data());
    environment.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writer.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, lifeline_reader.Get(), STDIN_FILENO);
    const std::string home = home_.Path().string();
    const std::string port_text = std::to_string(port);
    const char* argv[] = {"/usr/bin/python3", script.c_str(),    home.c_str(),          kUser,
                          kPassword,          port_text.c_str(), refused_name_.c_str(), nullptr};
    // A group of its own: should the test die while the server is paused,
    // the orphaned group gets SIGHUP and SIGCONT from the system, and ends.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, &attributes,
                                      const_cast<char* const*>(argv), environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    writer.Reset();
    if (spawned != 0)
        throw std::runtime_error("cannot start " + script);

    // The first line is the port, written once the server listens.
    std::string line;
    pollfd entry{reader.Get(), POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&entry, 1, kPatience_ms) > 0) {
        char chunk[64];
        const ssize_t count = ::read(reader.Get(), chunk, sizeof chunk);
        if (count <= 0)
            break;
        line.append(chunk, static_cast<size_t>(count));
    }
    port_ = static_cast<uint16_t>(std::atoi(line.c_str()));
    if (port_ == 0) {
        Stop();
        throw std::runtime_error("the FTP server did not start (is python3-pyftpdlib installed?)");
    }
}

Pyftpdlib_Server::~Pyftpdlib_Server() {
    Stop();
}

void Pyftpdlib_Server::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    ::kill(pid_, SIGCONT); // a paused server must run to end
    // It ends within moments; should it hang, it is killed outright.
    const auto deadline = std::chrono::steady_clock::now() + Fake_Ftp_Server::kPatience;
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    lifeline_.Reset();
}

} // namespace vistrel::test
