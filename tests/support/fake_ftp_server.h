// An FTP server on a loopback port that follows a script: the commands it
// expects, in order, and what it answers, including the faults real servers
// show (closing early, stalling a transfer, announcing another address). It
// records every command line it receives and every byte stored to it.
#pragma once

#include "support/temp_dir.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vistrel::test {

// Owns one file descriptor.
class Unique_Fd {
public:
    Unique_Fd() = default;
    explicit Unique_Fd(int fd) : fd_(fd) {}
    ~Unique_Fd() { Reset(); }
    Unique_Fd(Unique_Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Unique_Fd& operator=(Unique_Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Ftp_Step {
    enum class Kind {
        Send,      // text: reply lines separated by "\n"; each goes out with CR LF
        Expect,    // text: the command line that must come next
        Passive,   // expects PASV, opens a data listener, announces text as its
                   // address; over IPv6 expects EPSV and announces the port
        Serve,     // accepts the data connection, sends text, closes it
        Receive,   // accepts the data connection and keeps what arrives until its end
        Stall,     // accepts the data connection and neither reads nor writes it
                   // until the next command arrives, then drops it
        Close,     // closes the control connection's sending side
        Reconnect, // waits until the client closes the control connection,
                   // then takes its next one
        Drip,      // sends text a byte at a time, one every 50 ms, until done
                   // or the client goes
        Trickle,   // accepts the data connection and sends text on it as Drip
                   // does, then closes it
        Start_Tls, // takes the client's TLS handshake on the control connection
                   // with the certificate and key in the PEM file text; what
                   // follows on it is encrypted
    };
    Kind kind;
    std::string text;
};

inline Ftp_Step Send(std::string reply) {
    return {Ftp_Step::Kind::Send, std::move(reply)};
}
inline Ftp_Step Expect(std::string command) {
    return {Ftp_Step::Kind::Expect, std::move(command)};
}
inline Ftp_Step Passive(std::string announced = "127.0.0.1") {
    return {Ftp_Step::Kind::Passive, std::move(announced)};
}
inline Ftp_Step Serve(std::string bytes) {
    return {Ftp_Step::Kind::Serve, std::move(bytes)};
}
inline Ftp_Step Receive() {
    return {Ftp_Step::Kind::Receive, {}};
}
inline Ftp_Step Stall() {
    return {Ftp_Step::Kind::Stall, {}};
}
inline Ftp_Step Close() {
    return {Ftp_Step::Kind::Close, {}};
}
inline Ftp_Step Reconnect() {
    return {Ftp_Step::Kind::Reconnect, {}};
}
inline Ftp_Step Drip(std::string bytes) {
    return {Ftp_Step::Kind::Drip, std::move(bytes)};
}
inline Ftp_Step Trickle(std::string bytes) {
    return {Ftp_Step::Kind::Trickle, std::move(bytes)};
}
inline Ftp_Step Start_Tls(std::string pem_file) {
    return {Ftp_Step::Kind::Start_Tls, std::move(pem_file)};
}

// `first`, then `rest`.
inline std::vector<Ftp_Step> Joined(std::vector<Ftp_Step> first,
                                    const std::vector<Ftp_Step>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

// A greeting and the login of `user` with `password`, on a server without
// FEAT.
inline std::vector<Ftp_Step> Login_Steps(const std::string& user, const std::string& password) {
    return {
        Send("220 ready"), Expect("USER " + user), Send("331 password"), Expect("PASS " + password),
        Send("230 in"),    Expect("FEAT"),         Send("500 no"),       Expect("TYPE I"),
        Send("200 binary")};
}

// The first picture of an episode, from the top folder: up, an empty
// listing, and the episode's folder made and entered.
inline std::vector<Ftp_Step> Enter_New_Folder_Steps(const std::string& folder) {
    return {Expect("PWD"),       Send("257 \"/\" is current"),
            Expect("CDUP"),      Send("250 up"),
            Expect("TYPE A"),    Send("200 ascii"),
            Passive(),           Expect("LIST"),
            Send("150 listing"), Serve(""),
            Send("226 done"),    Expect("TYPE I"),
            Send("200 binary"),  Expect("MKD " + folder),
            Send("257 made"),    Expect("CWD " + folder),
            Send("250 in")};
}

class Fake_Ftp_Server {
public:
    // How long any single wait of the server lasts before it gives up.
    static constexpr std::chrono::seconds kPatience{10};

    // Listens at once, on 127.0.0.1 or ::1; the script runs on the first
    // connection, and on the next ones after each Reconnect. After the script
    // the server records further commands, answers QUIT with 221 and anything
    // else with 500.
    explicit Fake_Ftp_Server(std::vector<Ftp_Step> script, int family = AF_INET);
    ~Fake_Ftp_Server();
    Fake_Ftp_Server(const Fake_Ftp_Server&) = delete;
    Fake_Ftp_Server& operator=(const Fake_Ftp_Server&) = delete;

    uint16_t Port() const { return port_; }

    // Every command line received so far, without CR LF.
    std::vector<std::string> Commands() const;
    // The bytes of each Receive step, in order.
    std::vector<std::string> Stored() const;
    // Commands that differed from the script, and waits that ran out.
    std::vector<std::string> Mismatches() const;

    // Waits until the client has closed the control connection (or the script
    // closed it and the client's side ended); false when that did not happen
    // within the limit.
    bool Wait_Until_Closed(std::chrono::milliseconds limit) const;

    // Waits until a Stall step holds its data connection.
    bool Wait_Until_Stalling(std::chrono::milliseconds limit) const;

    // Control connections taken so far.
    int Connections() const;

private:
    void Run();
    bool Run_Step(const Ftp_Step& step, Unique_Fd& control);
    void Record_Tail(int control);
    bool Wait_Readable(int fd, const char* what, bool report = true);
    // False when the client went or the server is being stopped.
    bool Send_Slowly(int fd, const std::string& bytes);
    Unique_Fd Accept(int listener, const char* what);
    bool Read_Line(int control, std::string& line, bool report = true);
    void Mismatch(const std::string& text);
    // On the control connection, encrypted once Start_Tls has run.
    void Send_Control(int control, const std::string& bytes);
    ssize_t Receive_Control(int control, char* buffer, size_t capacity);
    bool Accept_Tls(int control, const std::string& pem_file);

    struct Tls;
    std::unique_ptr<Tls> tls_; // of the control connection now open

    std::vector<Ftp_Step> script_;
    int family_;
    Unique_Fd listener_;
    Unique_Fd data_listener_;
    Unique_Fd wake_reader_; // readable once the destructor wants every wait to end
    Unique_Fd wake_writer_;
    uint16_t port_ = 0;
    std::string pending_; // bytes of the control connection after the last line

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> commands_;
    std::vector<std::string> stored_;
    std::vector<std::string> mismatches_;
    bool stalling_ = false;
    bool closed_ = false;
    int connections_ = 0;

    std::thread thread_;
};

// A socket listening on a free loopback port (127.0.0.1, or ::1 for
// AF_INET6); `receive_buffer` bytes of receive buffer for the connections it
// accepts when above 0.
Unique_Fd Listen_On_Loopback(int receive_buffer = 0, int family = AF_INET);

// A loopback listener that takes no connection: its accept queue is full, so
// a connect to it waits as one to a host that drops every attempt does.
struct Full_Listener {
    Full_Listener();
    uint16_t Port() const;
    Unique_Fd listener;
    std::vector<Unique_Fd> queued; // the connections filling the queue
};
uint16_t Local_Port(int fd);

// A loopback port on which nothing listens.
uint16_t Unused_Port();

// A real FTP server (pyftpdlib) in a process of its own, serving a fresh
// folder to one user on a free loopback port; stopped by its process id.
class Pyftpdlib_Server {
public:
    static constexpr const char* kUser = "cam";
    static constexpr const char* kPassword = "s3cret pass";

    // A store of a file named `refused_name` (when not empty) is refused with
    // 553, in any folder. With `tls_certificate`, a PEM file holding the
    // server's certificate and key, it speaks explicit FTPS only.
    explicit Pyftpdlib_Server(std::string refused_name = {}, std::string tls_certificate = {});
    ~Pyftpdlib_Server();
    Pyftpdlib_Server(const Pyftpdlib_Server&) = delete;
    Pyftpdlib_Server& operator=(const Pyftpdlib_Server&) = delete;

    uint16_t Port() const { return port_; }
    // The user's home folder as the server sees it.
    const Temp_Dir& Home() const { return home_; }

    // Ends the server at once, as a crash would.
    void Kill();
    // Starts it again on the same port, serving the same folder.
    void Restart();

    // Freezes the process, as a hung server: connections are still accepted
    // by the system, but nothing is answered or read. Safe from any thread
    // while no other call is under way.
    void Pause();
    void Resume();

private:
    void Start(uint16_t port);
    void Stop();

    const std::string refused_name_;
    const std::string tls_certificate_;
    Temp_Dir home_;
    Unique_Fd lifeline_; // the server's stdin: it ends when this end closes
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

} // namespace vistrel::test
