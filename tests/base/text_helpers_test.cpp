#include "base/text_helpers.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vistrel {
namespace {

TEST(Int_To_Str, Writes_At_Least_The_Asked_Digits) {
    struct Case {
        int32_t value;
        int16_t digits;
        const char* expected;
    };
    // Some printf flavours write nothing for 0 at precision 0.
    const Case cases[] = {
        {0, 0, "0"},
        {-5, 3, "-005"},
        {2014, 0, "2014"},
        {2014, 2, "2014"},
        {7, 4, "0007"},
        {0, 3, "000"},
        {INT32_MIN, 0, "-2147483648"},
        {INT32_MAX, 12, "002147483647"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " digits " + std::to_string(c.digits));
        EXPECT_EQ(Int_To_Str(c.value, c.digits), c.expected);
    }
}

TEST(Pad_Left, Pads_Once_Per_Missing_Position_And_Never_Cuts) {
    struct Case {
        const char* text;
        int32_t length;
        const char* pad;
        const char* expected;
    };
    const Case cases[] = {
        {"7", 4, "0", "0007"},   {"12345", 4, "0", "12345"}, {"7", 3, "ab", "abab7"},
        {"", 2, "0", "00"},      {"42", 2, "0", "42"},       {"42", -3, "0", "42"},
        {"12", 5, "0", "00012"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "' to " + std::to_string(c.length));
        EXPECT_EQ(Pad_Left(c.text, c.length, c.pad), c.expected);
    }
}

TEST(Float_To_Str, Rounds_Half_Away_From_Zero_With_The_Given_Separator) {
    struct Case {
        int16_t width;
        int16_t decimals;
        double value;
        char separator;
        const char* expected;
    };
    // 12.25 is exact in binary, so a half-to-even printf would give 12.2. A width
    // below the text length never cuts.
    const Case cases[] = {
        {0, 1, 12.34, '.', "12.3"},
        {0, 1, 12.34, ',', "12,3"},
        {0, 1, 12.25, '.', "12.3"},
        {0, 1, -12.25, '.', "-12.3"},
        {0, 2, 0.125, '.', "0.13"},
        {0, 0, 2.5, '.', "3"},
        {0, 1, 0.0, '.', "0.0"},
        {0, 1, 0.0, ',', "0,0"},
        {0, 1, 9.96, '.', "10.0"},
        {0, 1, 0.05, '.', "0.1"},
        {0, 1, 0.04, '.', "0.0"},
        {0, 3, 1.0, '.', "1.000"},
        {6, 1, 2.5, '.', "   2.5"},
        {3, 1, 123.45, '.', "123.5"},
        {0, 1, 1234567.0, '.', "1234567.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("expecting '") + c.expected + "'");
        EXPECT_EQ(Float_To_Str(c.width, c.decimals, c.value, c.separator), c.expected);
    }
}

// The separator comes from LC_NUMERIC; scripts/test generates the comma locale,
// so a missing one is a broken machine and must show as a failure.
class Float_To_Str_Locale : public ::testing::TestWithParam<std::pair<const char*, char>> {
protected:
    void SetUp() override {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        saved_ = current != nullptr ? current : "C";
        ASSERT_NE(std::setlocale(LC_NUMERIC, GetParam().first), nullptr)
            << "locale " << GetParam().first << " is not installed";
    }
    void TearDown() override { std::setlocale(LC_NUMERIC, saved_.c_str()); }

private:
    std::string saved_;
};

TEST_P(Float_To_Str_Locale, Uses_The_Locale_Separator_While_Reading_Stays_Locale_Free) {
    const char sep = GetParam().second;
    EXPECT_EQ(Locale_Decimal_Separator(), sep);
    EXPECT_EQ(Float_To_Str(0, 1, 12.34), std::string("12") + sep + "3");
    EXPECT_EQ(Float_To_Str(0, 1, 12.25), std::string("12") + sep + "3");
    EXPECT_EQ(Float_To_Str(0, 1, 0.0), std::string("0") + sep + "0");
    EXPECT_EQ(Float_To_Str(6, 1, 2.5), std::string("   2") + sep + "5");
    // No thousands grouping, even where the locale has one.
    EXPECT_EQ(Float_To_Str(0, 1, 1234567.0), std::string("1234567") + sep + "0");
    EXPECT_DOUBLE_EQ(Str_To_Float("3.3"), 3.3);
    EXPECT_DOUBLE_EQ(Str_To_Float("3,3"), 3.3);
    EXPECT_EQ(Str_To_Int("12.9"), 12);
    EXPECT_EQ(Str_To_Int("12,5"), 0);
}

INSTANTIATE_TEST_SUITE_P(Point_And_Comma, Float_To_Str_Locale,
                         ::testing::Values(std::make_pair("C", '.'),
                                           std::make_pair("de_DE.UTF-8", ',')),
                         [](const auto& info) {
                             return std::string(info.param.second == '.' ? "Point" : "Comma");
                         });

TEST(Str_To_Int, Reads_The_Whole_Text_And_Truncates) {
    const std::pair<const char*, int32_t> numbers[] = {
        {"12.9", 12}, {"-7.5", -7}, {" 4 2", 42},   {"0012", 12},    {"1e3", 1000},
        {"+5", 5},    {"5.", 5},    {"2.5E+1", 25}, {"1 000", 1000},
    };
    for (const auto& [text, expected] : numbers) {
        SCOPED_TRACE(std::string("'") + text + "'");
        EXPECT_EQ(Str_To_Int(text), expected);
    }
    EXPECT_EQ(Str_To_Int("2147483647"), INT32_MAX);
    EXPECT_EQ(Str_To_Int("-2147483648"), INT32_MIN);
    for (const char* text : {"12,5", "0012x", "", "   ", "-", ".", "1e", "1.2.3", "\t5", "0x10",
                             "inf", "nan", "2147483648", "-2147483649.5"}) {
        SCOPED_TRACE(std::string("'") + text + "'");
        EXPECT_EQ(Str_To_Int(text), 0);
    }
}

TEST(Str_To_Float, Reads_A_Comma_As_A_Point) {
    const std::pair<const char*, double> numbers[] = {
        {" 3,3 ", 3.3}, {"3.3", 3.3}, {"1 000,5", 1000.5}, {"-2,5e1", -25.0},
        {".5", 0.5},    {"5.", 5.0},  {"+0,25", 0.25},     {"1e-3", 0.001},
    };
    for (const auto& [text, expected] : numbers) {
        SCOPED_TRACE(std::string("'") + text + "'");
        EXPECT_DOUBLE_EQ(Str_To_Float(text), expected);
    }
    for (const char* text : {"3.3a", "", "1,000.5", "1,2,3", "inf", "nan", "0x1p3", "1e"}) {
        SCOPED_TRACE(std::string("'") + text + "'");
        EXPECT_EQ(Str_To_Float(text), 0.0);
    }
}

TEST(Blank_Handling, Only_Character_32_Is_A_Blank) {
    EXPECT_EQ(Remove_Spaces(" a b\tc  d "), "ab\tcd");
    EXPECT_EQ(Remove_Spaces("   "), "");
    EXPECT_EQ(Trim_Left_Spaces("  ab c"), "ab c");
    EXPECT_EQ(Trim_Left_Spaces("ab  "), "ab  ");
    EXPECT_EQ(Trim_Left_Spaces(" \t a"), "\t a");
    // Blanks only come back untouched rather than emptied.
    EXPECT_EQ(Trim_Left_Spaces("   "), "   ");
    EXPECT_EQ(Trim_Left_Spaces(""), "");
}

TEST(Cut_Token, Walks_Over_An_FTP_Listing_Line) {
    struct Case {
        const char* line;
        std::vector<std::string> tokens;
        const char* name;
    };
    const Case cases[] = {
        {"drwxr-xr-x   2 user  group 4096 Jan  1 12:00 D0001",
         {"drwxr-xr-x", "2", "user", "group", "4096", "Jan", "1", "12:00"},
         "D0001"},
        {"-rw-r--r--    1 ftp      ftp        12345 Mar  7  2024 My  Picture.jpg",
         {"-rw-r--r--", "1", "ftp", "ftp", "12345", "Mar", "7", "2024"},
         "My  Picture.jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string rest = c.line;
        for (const std::string& expected : c.tokens)
            EXPECT_EQ(Cut_Token(rest, " "), expected);
        EXPECT_EQ(rest, c.name);
    }
    std::string rest = "drwxr-xr-x   2 user  group 4096 Jan  1 12:00 D0001";
    EXPECT_EQ(Cut_Token(rest, " "), "drwxr-xr-x");
    EXPECT_EQ(rest, "2 user  group 4096 Jan  1 12:00 D0001");
}

// Without the delimiter the token is the rest as passed, leading blanks kept.
TEST(Cut_Token, Single_Cuts) {
    struct Case {
        const char* rest;
        const char* delimiter;
        const char* token;
        const char* new_rest;
    };
    const Case cases[] = {
        {"  abc", " ", "  abc", ""},
        {"  a   b", " ", "a", "b"},
        {"a ", " ", "a", ""},
        {"abc", "", "abc", ""},
        {"key=value=x", "=", "key", "value=x"},
        {"a, b, c", ", ", "a", "b, c"},
        {"", " ", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.rest + "' by '" + c.delimiter + "'");
        std::string rest = c.rest;
        EXPECT_EQ(Cut_Token(rest, c.delimiter), c.token);
        EXPECT_EQ(rest, c.new_rest);
    }
}

TEST(Replace_All, Searches_Again_From_The_Start) {
    struct Case {
        const char* text;
        const char* search;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"a,b,c", ",", ".", "a.b.c"},    {"x", "", "y", "x"},
        {"aabb", "ab", "", ""},          {"aaab", "ab", "b", "b"},
        {"ababa", "aba", "a", "a"},      {"/2024//D0001/", "/", "", "2024D0001"},
        {"a\\b\\c", "\\", "_", "a_b_c"}, {"", ",", ".", ""},
        {"abc", "abcd", "", "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "' '" + c.search + "' -> '" + c.replacement + "'");
        EXPECT_EQ(Replace_All(c.text, c.search, c.replacement), c.expected);
    }
}

TEST(Count_Files, Counts_Entries_That_Are_Not_Folders) {
    const test::Temp_Dir dir;
    EXPECT_EQ(Count_Files(dir.File("missing")), 0);
    EXPECT_EQ(Count_Files(dir.Folder()), 0);

    dir.Write("P0001.jpg", "x");
    dir.Write("P0002.jpg", "x");
    dir.Write(".hidden", "x");
    // The sub-folder's own files must not be counted either.
    dir.Write("D0001/P0001.jpg", "x");
    EXPECT_EQ(Count_Files(dir.Folder()), 3);
    EXPECT_EQ(Count_Files(dir.Path().string()), 3);
    EXPECT_EQ(Count_Files(dir.File("P0001.jpg")), 0);
}

} // namespace
} // namespace vistrel
