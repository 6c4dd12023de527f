#include "settings/ini_document.h"

#include <algorithm>

namespace vistrel {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool Same_Name(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// The section name when the line is a section header.
std::optional<std::string_view> Section_Name(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[')
        return std::nullopt;
    std::string_view name = t.substr(1);
    const size_t close = name.find(']');
    if (close != std::string_view::npos)
        name = name.substr(0, close);
    return Trim(name);
}

// Key and raw value text of a "key=value" line.
std::optional<std::pair<std::string_view, std::string_view>> Key_Value(std::string_view line) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::make_pair(Trim(line.substr(0, eq)), line.substr(eq + 1));
}

std::string Unquoted(std::string_view raw) {
    std::string_view v = Trim(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

std::string Single_Line(std::string_view text) {
    std::string s(text);
    std::replace_if(
        s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return s;
}

} // namespace

Ini_Document Ini_Document::Parse(std::string_view text) {
    Ini_Document doc;
    if (text.substr(0, kBom.size()) == kBom) {
        doc.has_bom_ = true;
        text.remove_prefix(kBom.size());
    }
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            doc.lines_.emplace_back(text.substr(start));
            break;
        }
        doc.lines_.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return doc;
}

std::optional<size_t> Ini_Document::Find_Section(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = Section_Name(lines_[i]);
        if (name && Same_Name(*name, section))
            return i;
    }
    return std::nullopt;
}

std::optional<size_t> Ini_Document::Find_Key(size_t section_line, std::string_view key) const {
    for (size_t i = section_line + 1; i < lines_.size() && !Section_Name(lines_[i]); ++i) {
        const auto kv = Key_Value(lines_[i]);
        if (kv && Same_Name(kv->first, key))
            return i;
    }
    return std::nullopt;
}

size_t Ini_Document::End_Of_Section(size_t section_line) const {
    size_t insert_at = section_line + 1;
    for (size_t i = section_line + 1; i < lines_.size() && !Section_Name(lines_[i]); ++i)
        if (!Trim(lines_[i]).empty())
            insert_at = i + 1;
    return insert_at;
}

std::optional<std::string> Ini_Document::Value(std::string_view section,
                                               std::string_view key) const {
    const auto s = Find_Section(section);
    if (!s)
        return std::nullopt;
    const auto k = Find_Key(*s, key);
    if (!k)
        return std::nullopt;
    return Unquoted(Key_Value(lines_[*k])->second);
}

void Ini_Document::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string clean_section = Single_Line(section);
    const std::string clean_key = Single_Line(key);
    const std::string clean_value = Single_Line(value);
    const auto s = Find_Section(clean_section);
    if (!s) {
        lines_.push_back("[" + clean_section + "]");
        lines_.push_back(clean_key + "=" + clean_value);
        return;
    }
    if (const auto k = Find_Key(*s, clean_key)) {
        // Keep the key as the file spells it.
        const std::string existing(Key_Value(lines_[*k])->first);
        lines_[*k] = existing + "=" + clean_value;
        return;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(End_Of_Section(*s)),
                  clean_key + "=" + clean_value);
}

bool Ini_Document::Remove(std::string_view section, std::string_view key) {
    const auto s = Find_Section(section);
    if (!s)
        return false;
    const auto k = Find_Key(*s, key);
    if (!k)
        return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*k));
    return true;
}

std::string Ini_Document::Serialize() const {
    std::string out = has_bom_ ? std::string(kBom) : std::string();
    for (const auto& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

int32_t Parse_Profile_Integer(std::string_view text) noexcept {
    std::string_view t = Trim(text);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    } else if (!t.empty() && t.front() == '$') {
        base = 16;
        t.remove_prefix(1);
    }
    if (t.empty())
        return 0;
    int64_t magnitude = 0;
    for (char c : t) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return 0;
        magnitude = magnitude * base + digit;
        if (magnitude > int64_t{INT32_MAX} + 1)
            return 0;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX)
        return 0;
    return static_cast<int32_t>(value);
}

} // namespace vistrel
