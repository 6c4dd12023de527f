#include "recording/picture_names.h"

#include "base/file_helpers.h"
#include "base/text_helpers.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace vistrel {

namespace {

constexpr char kDay_Prefix[] = "RIDEV_";
constexpr char kPicture_Prefix[] = "I_";
constexpr char kPicture_Extension[] = ".jpg";
constexpr size_t kPicture_Number_Start = 12; // after "I_HH_MM_SS__"
constexpr size_t kMin_Picture_Digits = 5;
constexpr size_t kTemporary_Suffix_Length = 6;

std::string Padded(int32_t value, int32_t width) {
    return Pad_Left(Int_To_Str(value, 0), width, "0");
}

// The counters are unsigned: 2147483648 and above are written as they are.
std::string Padded_Counter(uint32_t value, int32_t width) {
    return Pad_Left(std::to_string(value), width, "0");
}

bool Digits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size())
        return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                       text.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The value of `count` digits already checked by Digits.
int Digits_Value(const std::string& text, size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

// The number after an episode folder's letter, read as Str_To_Int reads
// numbers but over the whole range of the counters.
uint32_t Episode_Number(const std::string& text) {
    // Str_To_Float reads a comma as a point, where Str_To_Int sees no number.
    if (text.find(',') != std::string::npos)
        return 0;
    const double number = std::trunc(Str_To_Float(text));
    if (!(number >= 0 && number <= static_cast<double>(UINT32_MAX)))
        return 0;
    return static_cast<uint32_t>(number);
}

bool Is_Episode_Letter(char c) {
    return c == 'D' || c == 'R';
}

struct Picture_Prefix {
    Picture_Name_Parts parts;
    size_t length = 0; // up to and with ".jpg"
};

// The picture's own name at the start of `name`; a temporary goes on after it.
std::optional<Picture_Prefix> Read_Picture_Prefix(const std::string& name) {
    // The shortest: "I_HH_MM_SS__", five digits, ".jpg".
    if (name.size() < 21 || name.compare(0, 2, kPicture_Prefix) != 0 || !Digits(name, 2, 2) ||
        name[4] != '_' || !Digits(name, 5, 2) || name[7] != '_' || !Digits(name, 8, 2) ||
        name.compare(10, 2, "__") != 0)
        return std::nullopt;
    size_t end = kPicture_Number_Start;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])))
        ++end;
    if (end - kPicture_Number_Start < kMin_Picture_Digits ||
        name.compare(end, 4, kPicture_Extension) != 0)
        return std::nullopt;
    Picture_Prefix prefix;
    prefix.parts.hour = Digits_Value(name, 2, 2);
    prefix.parts.minute = Digits_Value(name, 5, 2);
    prefix.parts.second = Digits_Value(name, 8, 2);
    prefix.parts.number = name.substr(kPicture_Number_Start, end - kPicture_Number_Start);
    prefix.length = end + 4;
    return prefix;
}

} // namespace

std::string Day_Folder_Name(const Local_Date_Time& date) {
    return kDay_Prefix + Padded(date.year, 4) + "_" + Padded(date.month, 2) + "_" +
           Padded(date.day, 2) + "/";
}

std::string Episode_Folder_Name(const std::string& letter, uint32_t number) {
    return letter + Padded_Counter(number, 4) + "/";
}

std::string Picture_File_Name(int hour, int minute, int second, uint32_t num_image) {
    return kPicture_Prefix + Padded(hour, 2) + "_" + Padded(minute, 2) + "_" + Padded(second, 2) +
           "__" + Padded_Counter(num_image, kMin_Picture_Digits);
}

std::optional<Day_Folder_Parts> Parse_Day_Folder_Name(const std::string& name) {
    if (name.size() != 16 || name.compare(0, 6, kDay_Prefix) != 0 || !Digits(name, 6, 4) ||
        name[10] != '_' || !Digits(name, 11, 2) || name[13] != '_' || !Digits(name, 14, 2))
        return std::nullopt;
    return Day_Folder_Parts{Digits_Value(name, 6, 4), Digits_Value(name, 11, 2),
                            Digits_Value(name, 14, 2)};
}

std::optional<Episode_Folder_Parts> Parse_Episode_Folder_Name(const std::string& name) {
    if (name.size() < 5 || !Is_Episode_Letter(name[0]) || !Digits(name, 1, name.size() - 1))
        return std::nullopt;
    return Episode_Folder_Parts{name[0], Episode_Number(name.substr(1))};
}

std::optional<Episode_Folder_Parts> Read_Episode_Counter(const std::string& name) {
    if (name.empty() || !Is_Episode_Letter(name[0]))
        return std::nullopt;
    return Episode_Folder_Parts{name[0], Episode_Number(name.substr(1))};
}

std::optional<Picture_Name_Parts> Parse_Picture_Name(const std::string& name) {
    std::optional<Picture_Prefix> prefix = Read_Picture_Prefix(name);
    if (!prefix || prefix->length != name.size())
        return std::nullopt;
    return std::move(prefix->parts);
}

std::optional<Picture_Name_Parts> Parse_Picture_Temporary_Name(const std::string& name) {
    std::optional<Picture_Prefix> prefix = Read_Picture_Prefix(name);
    const size_t marker = std::char_traits<char>::length(kTemporary_Marker);
    if (!prefix || name.size() != prefix->length + marker + kTemporary_Suffix_Length ||
        name.compare(prefix->length, marker, kTemporary_Marker) != 0 ||
        !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix->length + marker),
                     name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
        return std::nullopt;
    return std::move(prefix->parts);
}

bool Is_Day_Folder_Name(const std::string& name) {
    return Parse_Day_Folder_Name(name).has_value();
}

bool Is_Episode_Folder_Name(const std::string& name) {
    return Parse_Episode_Folder_Name(name).has_value();
}

bool Is_Picture_Name(const std::string& name) {
    return Parse_Picture_Name(name).has_value();
}

bool Is_Picture_Temporary_Name(const std::string& name) {
    return Parse_Picture_Temporary_Name(name).has_value();
}

} // namespace vistrel
