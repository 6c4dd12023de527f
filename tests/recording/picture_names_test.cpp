// Every name the program writes reads back as the parts it was built from, and
// only the program's own forms are read at all: the free-space keeper deletes
// what it recognises.
#include "recording/picture_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vistrel {
namespace {

// The builders end folder names with a slash; a listing gives them without.
std::string Listed(const std::string& folder) {
    return folder.substr(0, folder.size() - 1);
}

TEST(Picture_Names, A_Built_Day_Folder_Reads_Back_As_Its_Date) {
    for (const Local_Date_Time date :
         {Local_Date_Time{2024, 3, 7, 14, 5, 9}, Local_Date_Time{2026, 12, 31, 23, 59, 59},
          Local_Date_Time{1, 1, 1, 0, 0, 0}, Local_Date_Time{9999, 9, 30, 0, 0, 0}}) {
        const std::string name = Listed(Day_Folder_Name(date));
        SCOPED_TRACE(name);
        const auto parts = Parse_Day_Folder_Name(name);
        ASSERT_TRUE(parts.has_value());
        EXPECT_EQ(parts->year, date.year);
        EXPECT_EQ(parts->month, date.month);
        EXPECT_EQ(parts->day, date.day);
    }
}

TEST(Picture_Names, A_Built_Episode_Folder_Reads_Back_As_Its_Letter_And_Number) {
    struct Case {
        char letter;
        uint32_t number;
        const char* name;
    };
    for (const Case& c : {Case{'D', 3, "D0003"}, Case{'R', 0, "R0000"}, Case{'D', 9999, "D9999"},
                          Case{'R', 12345, "R12345"}, Case{'D', 2147483648u, "D2147483648"},
                          Case{'R', 4294967295u, "R4294967295"}}) {
        SCOPED_TRACE(c.name);
        const std::string name = Listed(Episode_Folder_Name(std::string(1, c.letter), c.number));
        EXPECT_EQ(name, c.name);
        for (const auto& parts : {Parse_Episode_Folder_Name(name), Read_Episode_Counter(name)}) {
            ASSERT_TRUE(parts.has_value());
            EXPECT_EQ(parts->letter, c.letter);
            EXPECT_EQ(parts->number, c.number);
        }
    }
}

TEST(Picture_Names, A_Built_Picture_And_Its_Temporary_Read_Back_As_Time_And_Number) {
    struct Case {
        int hour, minute, second;
        uint32_t number;
        const char* digits;
    };
    for (const Case& c :
         {Case{14, 5, 9, 12, "00012"}, Case{0, 0, 0, 0, "00000"}, Case{23, 59, 59, 99999, "99999"},
          Case{23, 59, 59, 123456, "123456"}, Case{12, 0, 1, 4294967295u, "4294967295"}}) {
        const std::string picture =
            Picture_File_Name(c.hour, c.minute, c.second, c.number) + ".jpg";
        const std::string temporary = picture + ".vistrel-tmp-a1B2c3";
        SCOPED_TRACE(picture);
        const auto as_picture = Parse_Picture_Name(picture);
        const auto as_temporary = Parse_Picture_Temporary_Name(temporary);
        for (const auto& parts : {as_picture, as_temporary}) {
            ASSERT_TRUE(parts.has_value());
            EXPECT_EQ(parts->hour, c.hour);
            EXPECT_EQ(parts->minute, c.minute);
            EXPECT_EQ(parts->second, c.second);
            EXPECT_EQ(parts->number, c.digits);
        }
        EXPECT_FALSE(Parse_Picture_Temporary_Name(picture).has_value());
        EXPECT_FALSE(Parse_Picture_Name(temporary).has_value());
    }
}

// The digits are not checked for a real date or time of day, and a picture
// number may be as long as it likes: whatever a clock or counter gave once
// is still found and deleted.
TEST(Picture_Names, Digits_Out_Of_Range_Still_Read) {
    const auto day = Parse_Day_Folder_Name("RIDEV_0000_13_32");
    ASSERT_TRUE(day.has_value());
    EXPECT_EQ(day->year, 0);
    EXPECT_EQ(day->month, 13);
    EXPECT_EQ(day->day, 32);

    const auto picture = Parse_Picture_Name("I_24_60_99__000000000000000000000001.jpg");
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->hour, 24);
    EXPECT_EQ(picture->minute, 60);
    EXPECT_EQ(picture->second, 99);
    EXPECT_EQ(picture->number, "000000000000000000000001");

    struct Episode {
        const char* name;
        uint32_t number;
    };
    for (const Episode& e : {Episode{"D00000000000000000003", 3}, Episode{"R4294967296", 0},
                             Episode{"D99999999999999999999999999", 0}}) {
        SCOPED_TRACE(e.name);
        const auto parts = Parse_Episode_Folder_Name(e.name);
        ASSERT_TRUE(parts.has_value());
        EXPECT_EQ(parts->number, e.number);
    }
}

TEST(Picture_Names, Anything_Else_Is_Not_The_Programs_Own) {
    struct Case {
        const char* name;
        bool (*recognises)(const std::string&);
    };
    const Case cases[] = {
        {"RIDEV_2024_03_07/", Is_Day_Folder_Name},
        {"RIDEV_2024_3_07", Is_Day_Folder_Name},
        {"RIDEV_24_03_07", Is_Day_Folder_Name},
        {"RIDEV_2024_03_07x", Is_Day_Folder_Name},
        {"xRIDEV_2024_03_0", Is_Day_Folder_Name},
        {"ridev_2024_03_07", Is_Day_Folder_Name},
        {"RIDEV_2024-03-07", Is_Day_Folder_Name},
        {"RIDEV_+024_03_07", Is_Day_Folder_Name},
        {"RIDEV_2024_03_7 ", Is_Day_Folder_Name},
        {"RIDEV_", Is_Day_Folder_Name},
        {"", Is_Day_Folder_Name},
        {"D0003/", Is_Episode_Folder_Name},
        {"D003", Is_Episode_Folder_Name},
        {"d0003", Is_Episode_Folder_Name},
        {"X0003", Is_Episode_Folder_Name},
        {"D00x3", Is_Episode_Folder_Name},
        {"D 003", Is_Episode_Folder_Name},
        {"R+0001", Is_Episode_Folder_Name},
        {"D-0001", Is_Episode_Folder_Name},
        {"D0003.5", Is_Episode_Folder_Name},
        {"DR0003", Is_Episode_Folder_Name},
        {"D", Is_Episode_Folder_Name},
        {"", Is_Episode_Folder_Name},
        {"I_14_05_09__00012", Is_Picture_Name},
        {"I_14_05_09__0012.jpg", Is_Picture_Name},
        {"I_14_05_09__00012.jpeg", Is_Picture_Name},
        {"I_14_05_09__00012.JPG", Is_Picture_Name},
        {"I_14_05_09__00012.jpgx", Is_Picture_Name},
        {"I_14_05_09__0001x2.jpg", Is_Picture_Name},
        {"I_14_05_09_00012.jpg", Is_Picture_Name},
        {"I_14_05_09___00012.jpg", Is_Picture_Name},
        {"I_14_5_09__00012.jpg", Is_Picture_Name},
        {"I_1a_05_09__00012.jpg", Is_Picture_Name},
        {"I_14:05:09__00012.jpg", Is_Picture_Name},
        {"i_14_05_09__00012.jpg", Is_Picture_Name},
        {" I_14_05_09__00012.jpg", Is_Picture_Name},
        {"Img_.jpg", Is_Picture_Name},
        {"", Is_Picture_Name},
        {"I_14_05_09__00012.jpg", Is_Picture_Temporary_Name},
        {"I_14_05_09__00012.jpg.vistrel-tmp-a1B2", Is_Picture_Temporary_Name},
        {"I_14_05_09__00012.jpg.vistrel-tmp-a1B2c3d", Is_Picture_Temporary_Name},
        {"I_14_05_09__00012.jpg.vistrel-tmp-a1B2c-", Is_Picture_Temporary_Name},
        {"I_14_05_09__00012.jpg.vistrel_tmp_a1B2c3", Is_Picture_Temporary_Name},
        {"I_14_05_09__00012.vistrel-tmp-a1B2c3", Is_Picture_Temporary_Name},
        {"I_14_05_09__0012.jpg.vistrel-tmp-a1B2c3", Is_Picture_Temporary_Name},
        {"notes.txt.vistrel-tmp-a1B2c3", Is_Picture_Temporary_Name},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.recognises(c.name));
    }
}

// The counter scan reads more than the keeper recognises: a folder renamed
// by hand still holds a number a restart must not reuse.
TEST(Picture_Names, The_Counter_Scan_Reads_Any_Number_After_The_Letter) {
    struct Case {
        const char* name;
        bool read;
        char letter;
        uint32_t number;
    };
    const Case cases[] = {
        {"D0003", true, 'D', 3},       {"R7", true, 'R', 7},
        {"D 1 2", true, 'D', 12},      {"R+7", true, 'R', 7},
        {"D12.9", true, 'D', 12},      {"D1e3", true, 'D', 1000},
        {"D1,5", true, 'D', 0},        {"D-5", true, 'D', 0},
        {"D4294967296", true, 'D', 0}, {"Dabc", true, 'D', 0},
        {"R", true, 'R', 0},           {"d0003", false, 'D', 0},
        {"X0003", false, 'D', 0},      {"RIDEV_2024_03_07", true, 'R', 0},
        {"", false, 'D', 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parts = Read_Episode_Counter(c.name);
        ASSERT_EQ(parts.has_value(), c.read);
        if (c.read) {
            EXPECT_EQ(parts->letter, c.letter);
            EXPECT_EQ(parts->number, c.number);
        }
    }
}

} // namespace
} // namespace vistrel
