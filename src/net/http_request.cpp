#include "net/http_request.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vistrel {

namespace {

constexpr size_t kMax_Line = 8192;
constexpr size_t kMax_Body = 1 << 20; // a version file is a few bytes

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::optional<Http_Url> Parse_Http_Url(const std::string& url) {
    const std::string scheme = "http://";
    if (Lower(url.substr(0, scheme.size())) != scheme)
        return std::nullopt;
    const std::string rest = url.substr(scheme.size());
    const size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    Http_Url out;
    out.path = slash == std::string::npos ? "/" : rest.substr(slash);
    std::string host = authority;
    std::string port;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                return std::nullopt;
            port = authority.substr(close + 2);
        }
    } else if (const size_t colon = authority.rfind(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of(" \r\n@") != std::string::npos)
        return std::nullopt;
    out.host = host;
    if (!port.empty()) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
            return std::nullopt;
        out.port = static_cast<uint16_t>(value);
    }
    if (out.path.find_first_of(" \r\n") != std::string::npos)
        return std::nullopt;
    return out;
}

std::string Version_Request(const Http_Url& url) {
    const bool v6 = url.host.find(':') != std::string::npos;
    std::string host = v6 ? "[" + url.host + "]" : url.host;
    if (url.port != 80)
        host += ":" + std::to_string(url.port);
    return "GET " + url.path + " HTTP/1.1\r\n" + "Host: " + host + "\r\n" +
           "Accept: text/html, */*\r\n" + "Accept-Encoding: identity\r\n" +
           "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n" + "\r\n";
}

bool Http_Response_Reader::Take_Line(std::string& line) {
    const size_t end = pending_.find('\n');
    // Also when the line's end is already there, so that the limit does not
    // depend on how the answer was cut into pieces on its way.
    if ((end == std::string::npos ? pending_.size() : end) > kMax_Line)
        throw Http_Error("Answer line too long");
    if (end == std::string::npos)
        return false;
    line = pending_.substr(0, end);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    pending_.erase(0, end + 1);
    return true;
}

void Http_Response_Reader::Header_Line(const std::string& line) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos)
        throw Http_Error("Unreadable header line");
    const std::string name = Lower(Trim(line.substr(0, colon)));
    const std::string value = Trim(line.substr(colon + 1));
    if (name == "transfer-encoding") {
        if (Lower(value).find("chunked") != std::string::npos)
            chunked_ = true;
    } else if (name == "content-length") {
        uint64_t length = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
        if (ec != std::errc() || end != value.data() + value.size())
            throw Http_Error("Unreadable Content-Length");
        content_length_ = length;
    }
}

void Http_Response_Reader::Start_Body() {
    // Interim answers (100 Continue and the like) come before the real one.
    if (status_ >= 100 && status_ < 200) {
        content_length_.reset();
        chunked_ = false;
        state_ = State::Status_Line;
    } else if (status_ == 204 || status_ == 304) {
        state_ = State::Done;
    } else if (chunked_) {
        state_ = State::Chunk_Size;
    } else if (content_length_) {
        left_ = *content_length_;
        state_ = left_ == 0 ? State::Done : State::Body_Length;
    } else {
        state_ = State::Body_Close;
    }
}

bool Http_Response_Reader::Take_Body_Bytes() {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(left_, pending_.size()));
    if (body_.size() + take > kMax_Body)
        throw Http_Error("Answer too long");
    body_.append(pending_, 0, take);
    pending_.erase(0, take);
    left_ -= take;
    return left_ == 0;
}

void Http_Response_Reader::Step() {
    std::string line;
    for (;;) {
        switch (state_) {
        case State::Status_Line: {
            if (!Take_Line(line))
                return;
            if (line.empty() && status_ == 0)
                continue;
            if (line.compare(0, 7, "HTTP/1.") != 0 || line.size() < 12 || line[8] != ' ')
                throw Http_Error("Not an HTTP answer");
            // Three digits: from_chars alone would take "-12" for a status.
            const bool digits = std::all_of(line.begin() + 9, line.begin() + 12, [](char c) {
                return std::isdigit(static_cast<unsigned char>(c)) != 0;
            });
            int code = 0;
            const auto [end, ec] = std::from_chars(line.data() + 9, line.data() + 12, code);
            if (!digits || ec != std::errc() || end != line.data() + 12)
                throw Http_Error("Unreadable status");
            status_ = code;
            state_ = State::Headers;
            break;
        }
        case State::Headers:
            if (!Take_Line(line))
                return;
            if (line.empty())
                Start_Body();
            else
                Header_Line(line);
            break;
        case State::Body_Length:
            if (!Take_Body_Bytes())
                return;
            state_ = State::Done;
            break;
        case State::Body_Close:
            if (body_.size() + pending_.size() > kMax_Body)
                throw Http_Error("Answer too long");
            body_ += pending_;
            pending_.clear();
            return;
        case State::Chunk_Size: {
            if (!Take_Line(line))
                return;
            const std::string size_text = Trim(line.substr(0, line.find(';')));
            uint64_t size = 0;
            const auto [end, ec] =
                std::from_chars(size_text.data(), size_text.data() + size_text.size(), size, 16);
            if (size_text.empty() || ec != std::errc() ||
                end != size_text.data() + size_text.size())
                throw Http_Error("Unreadable chunk size");
            if (size > kMax_Body)
                throw Http_Error("Answer too long");
            left_ = size;
            state_ = size == 0 ? State::Trailers : State::Chunk_Data;
            break;
        }
        case State::Chunk_Data:
            if (!Take_Body_Bytes())
                return;
            state_ = State::Chunk_End;
            break;
        case State::Chunk_End:
            if (!Take_Line(line))
                return;
            if (!line.empty())
                throw Http_Error("Chunk not followed by a line end");
            state_ = State::Chunk_Size;
            break;
        case State::Trailers:
            if (!Take_Line(line))
                return;
            if (line.empty())
                state_ = State::Done;
            break;
        case State::Done:
            return;
        }
    }
}

bool Http_Response_Reader::Feed(const char* data, size_t size) {
    if (state_ == State::Done)
        return true;
    pending_.append(data, size);
    Step();
    return state_ == State::Done;
}

void Http_Response_Reader::Finish() {
    if (state_ == State::Body_Close) {
        state_ = State::Done;
        return;
    }
    if (state_ != State::Done)
        throw Http_Error("The answer was cut short");
}

} // namespace vistrel
