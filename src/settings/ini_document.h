// The text of a settings file in the Windows profile (INI) format, kept line by
// line so that whatever the program does not understand (comments, foreign
// sections, odd lines) survives a rewrite untouched.
//
// Rules kept: section and key names compare without regard to (ASCII) case;
// the first section and the first key of a name win; a value reads without
// its surrounding blanks and one pair of enclosing quotes; a changed value is
// replaced in place, a new key goes at the end of its section and a new
// section at the end of the file; lines end in CR LF when written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

class Ini_Document {
public:
    static Ini_Document Parse(std::string_view text);

    // The value of the key, trimmed and unquoted; nothing when absent. A key
    // present with an empty value gives an empty text.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // Writes the value under the key, adding the section or the key as needed.
    // Line breaks in any of the three texts become blanks, so a value can never
    // add lines of its own to the file.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // Removes the key's line; false when it was not there.
    bool Remove(std::string_view section, std::string_view key);

    std::string Serialize() const;

private:
    std::optional<size_t> Find_Section(std::string_view section) const;
    std::optional<size_t> Find_Key(size_t section_line, std::string_view key) const;
    size_t End_Of_Section(size_t section_line) const;

    std::vector<std::string> lines_;
    bool has_bom_ = false;
};

// A profile integer: optional sign, then decimal digits, or hexadecimal digits
// after "0x" or "$". Anything else, or a value outside the signed 32-bit
// range, reads as 0.
int32_t Parse_Profile_Integer(std::string_view text) noexcept;

} // namespace vistrel
