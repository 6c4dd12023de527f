#include "upload/ftp_reply.h"

#include <algorithm>
#include <cctype>

namespace vistrel {

bool All_Digits(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string Trim_Blanks(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string First_Word(const std::string& line) {
    return line.substr(0, line.find(' '));
}

std::string First_Text(const Ftp_Reply& reply) {
    return reply.Text.empty() ? std::string() : reply.Text.front();
}

bool Is_One_Of(int code, std::initializer_list<int> codes) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool Lists_Feature(const std::vector<std::string>& features, const std::string& name) {
    return std::any_of(features.begin(), features.end(), [&](const std::string& line) {
        std::string word = First_Word(Trim_Blanks(line));
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return word == name;
    });
}

std::string Ftp_Reply::Joined_Text() const {
    std::string joined;
    for (const std::string& line : Text) {
        if (&line != &Text.front())
            joined += '\n';
        joined += line;
    }
    return joined;
}

bool Ends_Reply(const std::string& line) {
    if (line.size() <= 3)
        return !line.empty() && All_Digits(line);
    return All_Digits(line.substr(0, 3)) && line[3] == ' ';
}

Ftp_Reply Read_Reply(const std::function<std::string()>& next_line) {
    // Blank lines before the reply count too: a server sending nothing else
    // would otherwise hold the reader for ever.
    size_t size = 0;
    const auto count = [&size](const std::string& line) {
        size += line.size() + 2;
        if (size > kMax_Reply_Size)
            throw Socket_Error("reply longer than " + std::to_string(kMax_Reply_Size) + " bytes");
    };
    std::string line;
    do {
        line = next_line();
        count(line);
        line = Trim_Blanks(line);
    } while (line.empty());
    std::vector<std::string> lines{line};
    while (!Ends_Reply(line)) {
        line = next_line();
        count(line);
        lines.push_back(line);
    }

    const std::string code = lines.front().substr(0, 3);
    Ftp_Reply reply;
    reply.Code = (code.size() == 3 && All_Digits(code)) ? std::stoi(code) : 0;
    for (const std::string& each : lines) {
        const bool own = &each == &lines.front() || (reply.Code != 0 && each.starts_with(code));
        if (own)
            reply.Text.push_back(each.size() > 4 ? each.substr(4) : std::string());
        else
            reply.Text.push_back(each.substr(std::min(each.find_first_not_of(' '), each.size())));
    }
    return reply;
}

std::string Parse_PWD(const std::string& text) {
    const size_t open = text.find('"');
    if (open == std::string::npos)
        return {};
    const size_t close = text.find('"', open + 1);
    if (close == std::string::npos)
        return {};
    return text.substr(open + 1, close - open - 1);
}

Pasv_Address Parse_PASV(const std::string& text) {
    const std::string line = Trim_Blanks(text);
    const size_t open = line.find('(');
    const size_t close = line.find(')');
    std::string numbers;
    if (open != std::string::npos && close != std::string::npos && open < close)
        numbers = line.substr(open + 1, close - open - 1);
    else
        numbers = line.substr(line.rfind(' ') == std::string::npos ? 0 : line.rfind(' ') + 1);

    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        const size_t comma = numbers.find(',', start);
        fields.push_back(Trim_Blanks(numbers.substr(start, comma - start)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    int values[6];
    for (size_t i = 0; i < 6; ++i) {
        const bool number = i < fields.size() && !fields[i].empty() && fields[i].size() <= 3 &&
                            All_Digits(fields[i]) && std::stoi(fields[i]) <= 255;
        if (!number)
            throw FTP_Error(0, "no address in the passive mode reply: " + text, "PASV");
        values[i] = std::stoi(fields[i]);
    }
    Pasv_Address address;
    address.Host = std::to_string(values[0]) + "." + std::to_string(values[1]) + "." +
                   std::to_string(values[2]) + "." + std::to_string(values[3]);
    address.Port = static_cast<uint16_t>(values[4] * 256 + values[5]);
    return address;
}

uint16_t Parse_EPSV(const std::string& text) {
    const auto fail = [&]() -> uint16_t {
        throw FTP_Error(0, "no port in the extended passive mode reply: " + text, "EPSV");
    };
    const size_t open = text.find('(');
    if (open == std::string::npos || open + 1 >= text.size())
        return fail();
    // "(", three delimiters, the port, the delimiter again, ")".
    const char delimiter = text[open + 1];
    const size_t port_start = open + 4;
    if (text.size() < port_start || text.compare(open + 1, 3, std::string(3, delimiter)) != 0 ||
        std::isdigit(static_cast<unsigned char>(delimiter)))
        return fail();
    const size_t port_end = text.find(delimiter, port_start);
    if (port_end == std::string::npos || port_end + 1 >= text.size() || text[port_end + 1] != ')')
        return fail();
    const std::string digits = text.substr(port_start, port_end - port_start);
    const unsigned long port =
        (!digits.empty() && digits.size() <= 5 && All_Digits(digits)) ? std::stoul(digits) : 0;
    if (port == 0 || port > 65535)
        return fail();
    return static_cast<uint16_t>(port);
}

bool Reply_In_Step(int code, bool preliminary_allowed) {
    return code >= (preliminary_allowed ? 100 : 200) && code <= 599;
}

std::vector<std::string> Split_Listing(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.push_back(bytes.substr(start, i - start));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.push_back(bytes.substr(start));
    return lines;
}

std::string Seconds_Text(Milliseconds limit) {
    if (limit.count() % 1000 == 0)
        return std::to_string(limit.count() / 1000) + " s";
    return std::to_string(limit.count()) + " ms";
}

} // namespace vistrel
