// The HTTP request of the update check and the reading of its answer, byte
// for byte what the web server sees and sends.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace vistrel {

struct Http_Url {
    std::string host;
    uint16_t port = 80;
    std::string path = "/";
};

// An "http://host[:port]/path" address; nothing for anything else.
std::optional<Http_Url> Parse_Http_Url(const std::string& url);

// The request for the version file, byte for byte.
std::string Version_Request(const Http_Url& url);

class Http_Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads one HTTP/1.x answer fed to it in pieces. The body may be delimited by
// Content-Length, by chunked transfer coding or by the end of the connection.
// Throws Http_Error on an answer it cannot read.
class Http_Response_Reader {
public:
    // Takes the next bytes received; true once the answer is complete.
    bool Feed(const char* data, size_t size);
    // The connection ended: completes a body delimited by it, otherwise
    // throws for an answer cut short.
    void Finish();

    bool Complete() const { return state_ == State::Done; }
    int Status() const { return status_; }
    const std::string& Body() const { return body_; }

private:
    enum class State {
        Status_Line,
        Headers,
        Body_Length,
        Body_Close,
        Chunk_Size,
        Chunk_Data,
        Chunk_End,
        Trailers,
        Done
    };
    bool Take_Line(std::string& line);
    void Header_Line(const std::string& line);
    void Start_Body();
    // Moves up to left_ pending bytes into the body; true once none is left.
    bool Take_Body_Bytes();
    void Step();

    State state_ = State::Status_Line;
    std::string pending_;
    int status_ = 0;
    std::string body_;
    std::optional<uint64_t> content_length_;
    bool chunked_ = false;
    uint64_t left_ = 0;
};

} // namespace vistrel
