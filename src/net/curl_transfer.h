// HTTP, HTTPS and SMTP through libcurl, for the messages about episodes: one
// transfer at a time on the calling thread, with time limits, certificates
// verified (SSL_CERT_FILE and SSL_CERT_DIR honoured), and a Cancel that ends
// the transfer under way at once from any other thread.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vistrel {

struct Http_Header {
    std::string name;
    std::string value;
};

// One part of a multipart/form-data body: a text value, or a file.
struct Form_Part {
    std::string name;
    std::string content_type; // empty: none given
    std::string data;         // the value, when no file
    std::string file_path;    // the file sent, when set
    std::string file_name;    // the name the receiver sees for a file
};

struct Http_Answer {
    long status = 0;
    std::string body; // the first 64 KiB
};

// The transfer did not complete: no answer came.
class Transfer_Error : public std::runtime_error {
public:
    enum class Kind {
        Network,     // could not reach or talk to the server: worth trying again
        Refused,     // the server said no for good (a refused login)
        Cancelled,   // Cancel was called
        Unsupported, // the address or the setting cannot work as given
    };
    Transfer_Error(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

enum class Smtp_Security {
    Starttls, // plain connection upgraded to TLS; refused without it
    Tls,      // TLS from the first byte
};

struct Mail_Request {
    std::string server; // host name or address
    int port = 587;
    Smtp_Security security = Smtp_Security::Starttls;
    std::string login; // empty: no login
    std::string password;
    std::string from;
    std::string to;
    std::string subject; // UTF-8
    std::string text;    // UTF-8
    std::string attachment_path;
    std::string attachment_name;
};

class Curl_Transfers {
public:
    struct Limits {
        std::chrono::milliseconds connect{10000};
        std::chrono::milliseconds whole{60000};
    };

    Curl_Transfers();
    explicit Curl_Transfers(Limits limits);
    ~Curl_Transfers();
    Curl_Transfers(const Curl_Transfers&) = delete;
    Curl_Transfers& operator=(const Curl_Transfers&) = delete;

    // Throw Transfer_Error when no answer came; any HTTP status is an answer.
    Http_Answer Put_File(const std::string& url, const std::vector<Http_Header>& headers,
                         const std::string& file_path);
    Http_Answer Post_Form(const std::string& url, const std::vector<Http_Header>& headers,
                          const std::vector<Form_Part>& parts);
    // Throws Transfer_Error; Refused for a login the server refuses.
    void Send_Mail(const Mail_Request& mail);

    // Ends the transfer under way, and every later one, at once. Thread-safe.
    void Cancel() noexcept;
    bool Cancelled() const noexcept { return cancelled_.load(); }

private:
    struct Handles;

    // Sends the request set up on `easy` with `headers`; its answer.
    Http_Answer Perform_Http(void* easy, const std::vector<Http_Header>& headers,
                             const char* errors);

    std::unique_ptr<Handles> handles_;
    Limits limits_;
    std::atomic<bool> cancelled_{false};
};

// A header or subject value as RFC 2047 writes non-ASCII text:
// "=?UTF-8?B?...?=" when needed, several such words separated by spaces for a
// long text, the text itself when plain ASCII.
std::string Encoded_Word(const std::string& text);

// Whether `host` is a loopback name or address (localhost, 127.0.0.0/8, ::1).
bool Is_Loopback_Host(const std::string& host);

} // namespace vistrel
