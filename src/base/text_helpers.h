// Small text and number helpers used all over the program: building folder
// and file names, showing numbers, reading typed or fetched numbers, cutting
// FTP listing lines and counting the files of a folder.
//
// Text is a byte string (UTF-8 on this platform). A "blank" is the character
// 32 only; tabs are ordinary characters. None of these helpers throws: each
// one catches every failure inside and returns its neutral result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vistrel {

// Decimal text of value with at least `digits` digits (zeros after the sign).
// 0 gives "0" even with digits 0. Neutral result: empty text.
std::string Int_To_Str(int32_t value, int16_t digits) noexcept;

// Puts `pad` in front of `text` once per missing position until `length` is
// reached; a longer text comes back unchanged. Neutral result: the text.
std::string Pad_Left(const std::string& text, int32_t length, const std::string& pad) noexcept;

// Fixed-point text of value with `decimals` decimals, padded with blanks on the
// left to `width` characters. Rounds half away from zero from the value's
// 18-significant-digit form. Uses the decimal separator of the user's locale
// (LC_NUMERIC). Neutral result: empty text.
std::string Float_To_Str(int16_t width, int16_t decimals, double value) noexcept;

// Same, with the decimal separator given by the caller.
std::string Float_To_Str(int16_t width, int16_t decimals, double value,
                         char decimal_separator) noexcept;

// The decimal separator of the current C locale (LC_NUMERIC); "." when it has
// none or a multi-byte one.
char Locale_Decimal_Separator() noexcept;

// The number the whole text spells once blanks are removed, truncated toward
// zero; 0 when the text is no number or lies outside the 32-bit range.
int32_t Str_To_Int(const std::string& text) noexcept;

// The number the whole text spells once blanks are removed, a comma read as a
// point, whatever the locale; 0 when the text is no number.
double Str_To_Float(const std::string& text) noexcept;

// The text without any blank.
std::string Remove_Spaces(const std::string& text) noexcept;

// The text without its leading blanks; a text of blanks only comes back as is.
std::string Trim_Left_Spaces(const std::string& text) noexcept;

// Takes the first field off the front of `rest` and returns it. With the
// delimiter " " successive calls walk over blank-separated fields.
std::string Cut_Token(std::string& rest, const std::string& delimiter) noexcept;

// Replaces every occurrence of `search`, searching again from the start after
// each replacement. An empty search text changes nothing.
std::string Replace_All(const std::string& text, const std::string& search,
                        const std::string& replacement) noexcept;

// Number of entries of the folder that are not directories; 0 when the folder
// does not exist or cannot be listed.
int32_t Count_Files(const std::string& folder) noexcept;

// A text as one tab-separated field of one line: backslash, tab, line feed
// and carriage return written as \\, \t, \n and \r.
std::string Escape_Field(std::string_view text);
// The text back; nothing for a backslash followed by anything else.
std::optional<std::string> Unescape_Field(std::string_view text);

} // namespace vistrel
