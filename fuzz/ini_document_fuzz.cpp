// The settings file as any editor, crash or other program may have left it:
// whatever bytes it holds must read, rewrite and read again the same, and a
// write must land where the reader finds it without disturbing anything else.
//
// Input: the file's text, then, after NUL bytes, (section, key, value)
// triples each written with Set; a (section, key) pair left over at the end
// is removed.

#include "fuzz_support.h"
#include "settings/ini_document.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using vistrel::Ini_Document;
using vistrel::fuzz::Shown;

// Bounds the work per input: every check asks every name.
constexpr size_t kMax_Names = 48;
constexpr size_t kMax_Writes = 8;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Mapped(std::string_view s, char (*map)(char)) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), map);
    return out;
}

bool Same_Name(std::string_view a, std::string_view b) {
    return Mapped(a, Lower) == Mapped(b, Lower);
}

// A value as a read hands it back: without its surrounding blanks and one
// pair of enclosing quotes.
std::string Read_Form(std::string_view raw) {
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

// The text as a rewrite must give it back: each line ended by CR LF, whether
// it ended in CR LF, CR, LF or nothing before, a leading byte order mark kept.
std::string Rewritten(std::string_view text) {
    std::string out;
    if (text.starts_with(kBom)) {
        out = kBom;
        text.remove_prefix(kBom.size());
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    if (!text.empty() && text.back() != '\r' && text.back() != '\n')
        out += "\r\n";
    return out;
}

bool Only_Crlf_Line_Ends(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return true;
}

size_t Line_Count(std::string_view serialized) {
    size_t count = 0;
    for (size_t at = 0; (at = serialized.find("\r\n", at)) != std::string_view::npos; at += 2)
        ++count;
    return count;
}

struct Name {
    std::string section;
    std::string key;
};

// Names worth asking for: those the text's lines look like they hold. The
// guess need not follow the reader's rules, it only picks the questions
// whose answers are compared.
std::vector<Name> Names_In(std::string_view text) {
    std::vector<Name> names;
    std::string section;
    size_t start = 0;
    while (start <= text.size() && names.size() < kMax_Names) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        const std::string_view trimmed = Trim(line);
        if (trimmed.starts_with('[')) {
            section = Trim(trimmed.substr(1, trimmed.find(']') - 1));
        } else if (const size_t eq = line.find('='); eq != std::string_view::npos) {
            names.push_back({section, std::string(Trim(line.substr(0, eq)))});
        }
        start = end + 1;
    }
    return names;
}

std::vector<std::optional<std::string>> Values(const Ini_Document& doc,
                                               const std::vector<Name>& names) {
    std::vector<std::optional<std::string>> values;
    for (const Name& name : names)
        values.push_back(doc.Value(name.section, name.key));
    return values;
}

// Whether a write under these names promises to read back: a section name
// its header neither cuts short nor pads, and a key that is neither padded,
// nor split by its own equals sign, nor taken for a section header.
bool Reads_Back(std::string_view section, std::string_view key) {
    return section.find(']') == std::string_view::npos && Trim(section) == section &&
           key.find('=') == std::string_view::npos && Trim(key) == key && !key.starts_with('[');
}

// Every name but the one written keeps its value.
void Check_Others_Kept(const Ini_Document& doc, const std::vector<Name>& names,
                       const std::vector<std::optional<std::string>>& before,
                       std::string_view section, std::string_view key) {
    const auto after = Values(doc, names);
    for (size_t i = 0; i < names.size(); ++i) {
        if (Same_Name(names[i].section, section) && Same_Name(names[i].key, key))
            continue;
        FUZZ_CHECK(after[i] == before[i], "[" + names[i].section + "] " + Shown(names[i].key) +
                                              " changed by a change to [" + std::string(section) +
                                              "] " + Shown(key));
    }
}

void Check_Round_Trip(const Ini_Document& doc, const std::vector<Name>& names) {
    const std::string once = doc.Serialize();
    FUZZ_CHECK(Only_Crlf_Line_Ends(once), Shown(once));
    const Ini_Document again = Ini_Document::Parse(once);
    FUZZ_CHECK(again.Serialize() == once, "a second rewrite differs from the first: " +
                                              Shown(once) + " then " + Shown(again.Serialize()));
    for (const Name& name : names) {
        const auto value = doc.Value(name.section, name.key);
        FUZZ_CHECK(again.Value(name.section, name.key) == value,
                   "[" + name.section + "] " + Shown(name.key) + " reads otherwise once written");
        FUZZ_CHECK(doc.Value(Mapped(name.section, Upper), Mapped(name.key, Lower)) == value,
                   "[" + name.section + "] " + Shown(name.key) + " depends on letter case");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> fields = vistrel::fuzz::Fields(data, size);
    const std::string& text = fields.front();
    Ini_Document doc = Ini_Document::Parse(text);
    FUZZ_CHECK(doc.Serialize() == Rewritten(text),
               "lines not kept as they were: " + Shown(text) + " became " + Shown(doc.Serialize()));

    std::vector<Name> names = Names_In(text);
    for (size_t i = 1; i + 1 < fields.size() && names.size() < kMax_Names; i += 3)
        names.push_back({Single_Line(fields[i]), Single_Line(fields[i + 1])});
    Check_Round_Trip(doc, names);

    size_t i = 1;
    for (size_t writes = 0; i + 2 < fields.size() && writes < kMax_Writes; i += 3, ++writes) {
        const std::string& section = fields[i];
        const std::string& key = fields[i + 1];
        const std::string& value = fields[i + 2];
        const auto before = Values(doc, names);
        const size_t lines_before = Line_Count(doc.Serialize());

        doc.Set(section, key, value);
        const std::string written = doc.Serialize();
        FUZZ_CHECK(Only_Crlf_Line_Ends(written), Shown(written));
        // A changed key, a new key, or a new section with its key: the texts
        // written can add no line of their own.
        const size_t lines = Line_Count(written);
        FUZZ_CHECK(lines >= lines_before && lines <= lines_before + 2,
                   std::to_string(lines_before) + " lines became " + std::to_string(lines));

        const std::string clean_section = Single_Line(section);
        const std::string clean_key = Single_Line(key);
        if (Reads_Back(clean_section, clean_key)) {
            const auto read = doc.Value(clean_section, clean_key);
            FUZZ_CHECK(read == Read_Form(Single_Line(value)),
                       "[" + clean_section + "] " + Shown(clean_key) + " written as " +
                           Shown(value) + " reads " + (read ? Shown(*read) : "as absent"));
            Check_Others_Kept(doc, names, before, clean_section, clean_key);
        }
    }
    if (i + 2 == fields.size()) {
        const std::string& section = fields[i];
        const std::string& key = fields[i + 1];
        const bool present = doc.Value(section, key).has_value();
        const auto before = Values(doc, names);
        const std::string text_before = doc.Serialize();

        const bool removed = doc.Remove(section, key);
        FUZZ_CHECK(removed == present,
                   "Remove disagrees with Value on [" + section + "] " + Shown(key));
        const std::string after = doc.Serialize();
        if (removed)
            FUZZ_CHECK(Line_Count(after) + 1 == Line_Count(text_before),
                       "removing a key took more than its line: " + Shown(after));
        else
            FUZZ_CHECK(after == text_before, "a failed removal changed the file");
        Check_Others_Kept(doc, names, before, section, key);
    }
    Check_Round_Trip(doc, names);
    return 0;
}
