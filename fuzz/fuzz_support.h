// What every fuzz target shares: cutting the input into fields and stopping
// on a broken property so that libFuzzer keeps the input that broke it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition,
                              const std::string& why) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n    %s\n", file, line, condition,
                 why.c_str());
    std::fflush(stderr);
    std::abort();
}

// Shown in a failure message: the text quoted, with its odd bytes escaped.
inline std::string Shown(std::string_view text) {
    std::string out = "\"";
    for (const char c : text.substr(0, 200)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    out += text.size() > 200 ? "\"..." : "\"";
    return out;
}

// The input's fields, taken apart at each NUL byte.
inline std::vector<std::string> Fields(const uint8_t* data, size_t size) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    return fields;
}

} // namespace vistrel::fuzz

#define FUZZ_CHECK(condition, why)                                                                 \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::vistrel::fuzz::Fail(__FILE__, __LINE__, #condition, (why));                          \
    } while (false)
