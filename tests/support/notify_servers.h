// The HTTP(S) and SMTP servers of notify_servers.py, run by a test on loopback
// and stopped with it, and what they received.
#pragma once

#include "support/temp_dir.h"

#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vistrel::test {

// One python3 process serving on a free loopback port.
class Server_Process {
public:
    explicit Server_Process(const std::vector<std::string>& arguments);
    ~Server_Process();
    Server_Process(const Server_Process&) = delete;
    Server_Process& operator=(const Server_Process&) = delete;

    uint16_t Port() const { return port_; }
    // Nothing listens on the port afterwards.
    void Stop() noexcept;

private:
    pid_t pid_ = -1;
    int lifeline_ = -1; // its standard input: closed, the server ends
    uint16_t port_ = 0;
};

struct Form_Part_Seen {
    std::string content_type;
    std::string filename;
    std::string data;
    // Field name -> value as JSON writes it ("\"start\"", "37.5"), as
    // python's json module read the part; empty for another part.
    std::map<std::string, std::string> json;
    std::string json_error;
};

struct Request_Seen {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers; // lower-case names
    std::map<std::string, std::string> decoded; // RFC 2047 words decoded
    std::string body;
    std::map<std::string, Form_Part_Seen> parts; // of a multipart/form-data body
};

class Recording_Http_Server {
public:
    // `pem_with_key` empty: plain HTTP.
    explicit Recording_Http_Server(const std::string& pem_with_key = {});

    // "http://127.0.0.1:PORT" or "https://localhost:PORT".
    std::string Base() const;
    // The answer to requests for `path` ("*": any other).
    void Answer(const std::string& path, int status, const std::string& body = {});
    // Requests for `path` are read and never answered.
    void Hang(const std::string& path);
    std::vector<Request_Seen> Requests() const;
    void Stop() noexcept { process_.Stop(); }

private:
    void Add_Answer_Line(const std::string& line);

    Temp_Dir folder_;
    bool tls_;
    Server_Process process_;
};

struct Mail_Seen {
    std::string envelope_from;
    std::string envelope_to;
    bool tls = false;
    std::string login;
    std::string mechanism;
    std::string subject; // decoded
    std::string from;
    std::string to;
    std::string date;
    std::string text;
    std::map<std::string, std::string> attachments;      // name -> bytes
    std::map<std::string, std::string> attachment_types; // name -> content type
};

class Recording_Smtp_Server {
public:
    enum class Security { None, Starttls, Tls };
    // `login` "USER:PASSWORD" makes AUTH required; `mechanism` ("PLAIN",
    // "LOGIN") the only one offered, empty: both.
    Recording_Smtp_Server(Security security, const std::string& pem_with_key,
                          const std::string& login = {}, const std::string& mechanism = {});

    uint16_t Port() const { return process_.Port(); }
    std::vector<Mail_Seen> Mails() const;

private:
    Temp_Dir folder_;
    Server_Process process_;
};

} // namespace vistrel::test
