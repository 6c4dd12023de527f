#include "base/text_helpers.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <dirent.h>
#include <sys/stat.h>

namespace vistrel {

namespace {

constexpr char kBlank = ' ';
constexpr size_t kMaxReplacements = 10'000'000;

bool Is_Digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the whole text as: optional sign, digits with at most one point
// anywhere among them (at least one digit), optional exponent. The point is
// always the decimal separator, whatever the locale.
bool Read_Number(const std::string& text, double& out) {
    size_t i = 0;
    const size_t n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t int_start = i;
    while (i < n && Is_Digit(text[i]))
        ++i;
    std::string int_part = text.substr(int_start, i - int_start);
    std::string frac_part;
    if (i < n && text[i] == '.') {
        ++i;
        const size_t frac_start = i;
        while (i < n && Is_Digit(text[i]))
            ++i;
        frac_part = text.substr(frac_start, i - frac_start);
    }
    if (int_part.empty() && frac_part.empty())
        return false;
    std::string exponent;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        exponent = "e";
        if (i < n && (text[i] == '+' || text[i] == '-'))
            exponent += text[i++];
        const size_t exp_start = i;
        while (i < n && Is_Digit(text[i]))
            ++i;
        if (i == exp_start)
            return false;
        exponent += text.substr(exp_start, i - exp_start);
    }
    if (i != n)
        return false;

    // from_chars wants a plain form: no leading '+', digits on both sides.
    std::string plain = (negative ? "-" : "") + (int_part.empty() ? std::string("0") : int_part);
    if (!frac_part.empty())
        plain += "." + frac_part;
    plain += exponent;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

std::string Pad_To_Width(std::string text, int16_t width) {
    const size_t wanted = static_cast<size_t>(std::abs(static_cast<int>(width)));
    if (text.size() >= wanted)
        return text;
    const std::string blanks(wanted - text.size(), kBlank);
    // A negative width left-justifies, as a "%-6.1f" format would.
    return width < 0 ? text + blanks : blanks + text;
}

// Fixed-point text of a finite value, rounded half away from zero from its
// 18-significant-digit decimal form.
std::string Fixed_Point(double value, int decimals, char separator) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 17);
    const std::string sci(buf, res.ptr);
    // sci is "[-]d.ddddddddddddddddde[+-]xx".
    const bool negative = sci[0] == '-';
    const size_t mantissa_at = negative ? 1 : 0;
    const size_t e_at = sci.find('e');
    std::string digits =
        sci.substr(mantissa_at, 1) + sci.substr(mantissa_at + 2, e_at - mantissa_at - 2);
    int int_digits = std::stoi(sci.substr(e_at + 1)) + 1; // digits before the point

    const long keep = static_cast<long>(int_digits) + decimals;
    if (keep < 0) {
        digits.clear();
    } else if (static_cast<size_t>(keep) < digits.size()) {
        const bool round_up = digits[static_cast<size_t>(keep)] >= '5';
        digits.resize(static_cast<size_t>(keep));
        if (round_up) {
            long pos = keep - 1;
            while (pos >= 0 && digits[static_cast<size_t>(pos)] == '9') {
                digits[static_cast<size_t>(pos)] = '0';
                --pos;
            }
            if (pos >= 0) {
                ++digits[static_cast<size_t>(pos)];
            } else {
                digits.insert(digits.begin(), '1');
                ++int_digits;
            }
        }
    }

    // Lay the kept digits out around the point, filling with zeros.
    std::string int_text;
    std::string frac_text;
    for (int k = 0; k < int_digits; ++k)
        int_text += k < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(k)] : '0';
    for (int k = 0; k < decimals; ++k) {
        const long idx = static_cast<long>(int_digits) + k;
        frac_text += (idx >= 0 && idx < static_cast<long>(digits.size()))
                         ? digits[static_cast<size_t>(idx)]
                         : '0';
    }
    const size_t first_nonzero = int_text.find_first_not_of('0');
    int_text = first_nonzero == std::string::npos ? "0" : int_text.substr(first_nonzero);
    const bool is_zero = int_text == "0" && frac_text.find_first_not_of('0') == std::string::npos;

    std::string text = (negative && !is_zero) ? "-" : "";
    text += int_text;
    if (decimals > 0)
        text += separator + frac_text;
    return text;
}

} // namespace

std::string Int_To_Str(int32_t value, int16_t digits) noexcept {
    try {
        if (digits < 0)
            return {}; // not a valid precision
        const int64_t wide = value;
        std::string magnitude = std::to_string(wide < 0 ? -wide : wide);
        if (magnitude.size() < static_cast<size_t>(digits))
            magnitude.insert(0, static_cast<size_t>(digits) - magnitude.size(), '0');
        return (value < 0 ? "-" : "") + magnitude;
    } catch (...) {
        return {};
    }
}

std::string Pad_Left(const std::string& text, int32_t length, const std::string& pad) noexcept {
    try {
        const int64_t missing = static_cast<int64_t>(length) - static_cast<int64_t>(text.size());
        if (missing <= 0 || pad.empty())
            return text;
        std::string result;
        result.reserve(static_cast<size_t>(missing) * pad.size() + text.size());
        for (int64_t i = 0; i < missing; ++i)
            result += pad;
        return result + text;
    } catch (...) {
        return text;
    }
}

char Locale_Decimal_Separator() noexcept {
    const std::lconv* conv = std::localeconv();
    if (conv == nullptr || conv->decimal_point == nullptr || conv->decimal_point[0] == '\0' ||
        conv->decimal_point[1] != '\0')
        return '.';
    return conv->decimal_point[0];
}

std::string Float_To_Str(int16_t width, int16_t decimals, double value,
                         char decimal_separator) noexcept {
    try {
        if (decimals < 0)
            return {}; // not a valid precision
        std::string text;
        if (std::isnan(value))
            text = "NAN";
        else if (std::isinf(value))
            text = value < 0 ? "-INF" : "INF";
        else
            text = Fixed_Point(value, decimals, decimal_separator);
        return Pad_To_Width(std::move(text), width);
    } catch (...) {
        return {};
    }
}

std::string Float_To_Str(int16_t width, int16_t decimals, double value) noexcept {
    return Float_To_Str(width, decimals, value, Locale_Decimal_Separator());
}

int32_t Str_To_Int(const std::string& text) noexcept {
    try {
        double value = 0.0;
        if (!Read_Number(Remove_Spaces(text), value))
            return 0;
        const double cut = std::trunc(value);
        if (cut < static_cast<double>(INT32_MIN) || cut > static_cast<double>(INT32_MAX))
            return 0;
        return static_cast<int32_t>(cut);
    } catch (...) {
        return 0;
    }
}

double Str_To_Float(const std::string& text) noexcept {
    try {
        double value = 0.0;
        if (!Read_Number(Replace_All(Remove_Spaces(text), ",", "."), value))
            return 0.0;
        return value;
    } catch (...) {
        return 0.0;
    }
}

std::string Remove_Spaces(const std::string& text) noexcept {
    std::string result;
    try {
        result.reserve(text.size());
        for (char c : text)
            if (c != kBlank)
                result += c;
    } catch (...) {
    }
    return result;
}

std::string Trim_Left_Spaces(const std::string& text) noexcept {
    try {
        const size_t first = text.find_first_not_of(kBlank);
        if (first == std::string::npos)
            return text;
        return text.substr(first);
    } catch (...) {
        return text;
    }
}

std::string Cut_Token(std::string& rest, const std::string& delimiter) noexcept {
    std::string token;
    try {
        token = rest;
        const std::string trimmed = Trim_Left_Spaces(rest);
        const size_t p = delimiter.empty() ? std::string::npos : trimmed.find(delimiter);
        if (p == std::string::npos) {
            rest.clear();
            return token;
        }
        std::string new_rest = Trim_Left_Spaces(trimmed.substr(p + delimiter.size()));
        token = trimmed.substr(0, p);
        rest = std::move(new_rest);
    } catch (...) {
    }
    return token;
}

std::string Replace_All(const std::string& text, const std::string& search,
                        const std::string& replacement) noexcept {
    try {
        if (search.empty())
            return text;
        std::string w = text;
        if (replacement.find(search) != std::string::npos) {
            // Searching again from the start would never end: replace the
            // occurrences of the original text once, left to right.
            size_t from = 0;
            for (size_t p = w.find(search); p != std::string::npos; p = w.find(search, from)) {
                w.replace(p, search.size(), replacement);
                from = p + replacement.size();
            }
            return w;
        }
        // Text before the previous occurrence held no match, so a new match
        // can only start where it overlaps the replacement just made.
        // The pass count bounds pathological inputs that could otherwise
        // keep producing new matches.
        size_t from = 0;
        size_t passes = 0;
        for (size_t p = w.find(search); p != std::string::npos && passes < kMaxReplacements;
             p = w.find(search, from), ++passes) {
            w.replace(p, search.size(), replacement);
            from = p + 1 >= search.size() ? p + 1 - search.size() : 0;
        }
        return w;
    } catch (...) {
        return text;
    }
}

int32_t Count_Files(const std::string& folder) noexcept {
    // The rollover check lists an episode folder on every recorded picture, and
    // such a folder can hold thousands: read the entry types straight from the
    // listing instead of building a path and a status for each entry.
    int32_t count = 0;
    // An empty path names the root, as a separator appended to it would.
    DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (dir == nullptr)
        return 0;
    const int dir_fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        bool is_directory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st {};
            is_directory = ::fstatat(dir_fd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (!is_directory)
            ++count;
    }
    ::closedir(dir);
    return count;
}

std::string Escape_Field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescape_Field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

} // namespace vistrel
