// The names of the day folders, episode folders and pictures the program
// writes, built and read back in one place so that both sides agree on every
// character:
//   RIDEV_2024_03_07/D0003/I_14_05_09__00012.jpg
#pragma once

#include "recording/local_date_time.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vistrel {

// "RIDEV_2024_03_07/"
std::string Day_Folder_Name(const Local_Date_Time& date);

// "D0003/" for the letter "D" and the number 3; longer numbers are kept whole.
std::string Episode_Folder_Name(const std::string& letter, uint32_t number);

// "I_14_05_09__00012", without the ".jpg".
std::string Picture_File_Name(int hour, int minute, int second, uint32_t num_image);

struct Day_Folder_Parts {
    int year = 0;
    int month = 0;
    int day = 0;
};

struct Episode_Folder_Parts {
    char letter = 'D'; // 'D' or 'R'
    // 0 for a number beyond 4294967295, which no counter can have written.
    uint32_t number = 0;
};

struct Picture_Name_Parts {
    int hour = 0;
    int minute = 0;
    int second = 0;
    // The digits as written, five or more: a leading zero is part of the name
    // and orders it, so the text is kept rather than its value.
    std::string number;
};

// A day folder as listed, without the builder's slash: "RIDEV_", four digits,
// two and two, nothing more. The digits are not checked for a real date.
std::optional<Day_Folder_Parts> Parse_Day_Folder_Name(const std::string& name);

// An episode folder as listed: an upper-case D or R, then four digits or more.
std::optional<Episode_Folder_Parts> Parse_Episode_Folder_Name(const std::string& name);

// Any folder name starting with an upper-case D or R, with whatever follows
// read as Str_To_Int reads a number (blanks dropped, a sign, a fraction or an
// exponent allowed) but over the counters' whole range; 0 when that is no
// number or one outside 0 to 4294967295. A restart must not reuse the number
// of a folder somebody renamed by hand, hence the leniency.
std::optional<Episode_Folder_Parts> Read_Episode_Counter(const std::string& name);

// A picture as listed: "I_", hours, minutes and seconds of two digits each
// with "_" between, "__", five digits or more, ".jpg".
std::optional<Picture_Name_Parts> Parse_Picture_Name(const std::string& name);

// The temporary a write of such a picture makes beside it: the picture's
// name, the temporary marker, six letters or digits.
std::optional<Picture_Name_Parts> Parse_Picture_Temporary_Name(const std::string& name);

bool Is_Day_Folder_Name(const std::string& name);
bool Is_Episode_Folder_Name(const std::string& name);
bool Is_Picture_Name(const std::string& name);
bool Is_Picture_Temporary_Name(const std::string& name);

} // namespace vistrel
