#include "settings/ini_store.h"

#include "settings/ini_document.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using test::Entries;
using test::Mode_Of;

// The lines of a file written with CR LF ends, blank lines left out so that the
// check does not depend on whether sections are set apart by an empty line.
std::vector<std::string> Crlf_Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        if (end > start)
            lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the last line has no CR LF";
    return lines;
}

bool Only_Crlf_Line_Ends(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return true;
}

class Ini_Store : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    const std::string path = dir.File("datas.ini");

    std::string Content() const { return dir.Read("datas.ini"); }
};

TEST_F(Ini_Store, Fresh_File_Gets_Defaults_In_The_Order_They_Were_First_Read) {
    EXPECT_EQ(Ini_Read_String(path, "string", "DED_Dest_Folder", "/home/u/Pictures/Vistrel"),
              "/home/u/Pictures/Vistrel");
    EXPECT_EQ(Crlf_Lines(Content()),
              (std::vector<std::string>{"[string]", "DED_Dest_Folder=/home/u/Pictures/Vistrel"}));

    EXPECT_EQ(Ini_Read_String(path, "string", "EDT_File_Name", "Img_"), "Img_");
    EXPECT_EQ(Ini_Read_Integer(path, "integer", "RBT_Rec_Launch", 0), 0);
    EXPECT_EQ(Ini_Read_Integer(path, "integer", "EDT_Timer_Refresh", 200), 200);
    // A key of the first section read late still joins its own section.
    EXPECT_EQ(Ini_Read_String(path, "string", "EDT_FTP_Login", ""), "");
    EXPECT_EQ(Ini_Read_Integer(path, "integer", "EDT_Seuil_Detect", -5), -5);
    // Once stored, the file wins over a different default.
    EXPECT_EQ(Ini_Read_Integer(path, "integer", "EDT_Timer_Refresh", 999), 200);
    EXPECT_EQ(Ini_Read_String(path, "string", "EDT_File_Name", "other"), "Img_");

    const std::string text = Content();
    EXPECT_TRUE(Only_Crlf_Line_Ends(text));
    EXPECT_EQ(Crlf_Lines(text),
              (std::vector<std::string>{"[string]", "DED_Dest_Folder=/home/u/Pictures/Vistrel",
                                        "EDT_File_Name=Img_", "EDT_FTP_Login=", "[integer]",
                                        "RBT_Rec_Launch=0", "EDT_Timer_Refresh=200",
                                        "EDT_Seuil_Detect=-5"}));
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
    EXPECT_EQ(Mode_Of(path), 0600u) << "the file may hold the FTP password";
}

TEST_F(Ini_Store, Names_Compare_Without_Case) {
    dir.Write("datas.ini", "[Integer]\r\nedt_timer_refresh=300\r\n");
    EXPECT_EQ(Ini_Read_Integer(path, "INTEGER", "EDT_Timer_Refresh", 200), 300);
    EXPECT_EQ(Content(), "[Integer]\r\nedt_timer_refresh=300\r\n");

    Ini_Write_Integer(path, "integer", "EDT_TIMER_REFRESH", 400);
    const std::vector<std::string> lines = Crlf_Lines(Content());
    ASSERT_EQ(lines.size(), 2u) << Content();
    EXPECT_EQ(lines[0], "[Integer]");
    EXPECT_EQ(Ini_Read_Integer(path, "iNtEgEr", "Edt_Timer_Refresh", 200), 400);
}

TEST_F(Ini_Store, Values_Lose_Surrounding_Blanks_And_One_Pair_Of_Quotes) {
    struct Case {
        const char* line;
        const char* expected;
    };
    const Case cases[] = {
        {"Key=  hello  ", "hello"},
        {"  Key  =  spaced key  ", "spaced key"},
        {"Key=\"quoted\"", "quoted"},
        {"Key=  \" padded \"  ", " padded "},
        {"Key=\"\"twice\"\"", "\"twice\""},
        {"Key='single'", "single"},
        {"Key=\"open", "\"open"},
        {"Key=\"mixed'", "\"mixed'"},
        {"Key=a \"b\" c", "a \"b\" c"},
        {"Key=\"\"", ""},
        {"Key=a=b", "a=b"},
        {"Key=c:\\", "c:\\"},
        {"Key=Zürich", "Zürich"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string text = std::string("[string]\r\n") + c.line + "\r\n";
        dir.Write("datas.ini", text);
        EXPECT_EQ(Ini_Read_String(path, "string", "Key", "DEFAULT"), c.expected);
        EXPECT_EQ(Content(), text);
    }
}

TEST_F(Ini_Store, Strings_Read_Up_To_2047_Characters) {
    for (const size_t length : {2046u, 2047u, 2048u, 3000u}) {
        SCOPED_TRACE(length);
        const std::string value(length, 'v');
        Ini_Write_String(path, "string", "Long", value);
        EXPECT_EQ(Ini_Read_String(path, "string", "Long", ""), value.substr(0, 2047));
    }
}

TEST_F(Ini_Store, Integers_Read_As_Profile_Numbers) {
    const auto read = [&](const std::string& value) {
        const std::string text = "[integer]\r\nK=" + value + "\r\n";
        dir.Write("datas.ini", text);
        const int32_t got = Ini_Read_Integer(path, "integer", "K", 777);
        EXPECT_EQ(Content(), text) << "a present key must not be rewritten";
        return got;
    };
    const std::pair<const char*, int32_t> numbers[] = {
        {"42", 42},     {"-17", -17}, {"+8", 8},    {"  42  ", 42},
        {"\"42\"", 42}, {"0x1F", 31}, {"0X1f", 31}, {"$ff", 255},
    };
    for (const auto& [value, expected] : numbers) {
        SCOPED_TRACE(std::string("'") + value + "'");
        EXPECT_EQ(read(value), expected);
    }
    EXPECT_EQ(read("0x7FFFFFFF"), INT32_MAX);
    EXPECT_EQ(read("2147483647"), INT32_MAX);
    EXPECT_EQ(read("-2147483648"), INT32_MIN);
    // An empty value is present too: the default must not win over it.
    for (const char* value : {"2147483648", "-2147483649", "99999999999999999999999", "abc",
                              "12abc", "1.5", "0x", "$", "-", "0xG1", ""}) {
        SCOPED_TRACE(std::string("'") + value + "'");
        EXPECT_EQ(read(value), 0);
    }
}

TEST_F(Ini_Store, An_Empty_Value_Counts_As_Present) {
    const std::string text = "[string]\r\nEDT_File_Name=\r\n";
    dir.Write("datas.ini", text);
    EXPECT_EQ(Ini_Read_String(path, "string", "EDT_File_Name", "Img_"), "");
    EXPECT_EQ(Content(), text);
}

TEST_F(Ini_Store, Writes_Replace_In_Place_And_Keep_Foreign_Lines) {
    const std::string original = "; Vistrel settings\r\n"
                                 "[string]\r\n"
                                 "# another comment\r\n"
                                 "DED_Dest_Folder=/pics\r\n"
                                 "a line without an equals sign\r\n"
                                 "EDT_File_Name = Img_ \r\n"
                                 "\r\n"
                                 "[Window]\r\n"
                                 "Left=10\r\n"
                                 ";trailing\r\n";
    dir.Write("datas.ini", original);

    Ini_Write_String(path, "string", "DED_Dest_Folder", "/photos");
    std::string expected = original;
    expected.replace(expected.find("=/pics"), 6, "=/photos");
    EXPECT_EQ(Content(), expected);

    Ini_Write_String(path, "string", "EDT_FTP_Login", "bob");
    Ini_Write_Integer(path, "integer", "CKB_Use_FTP", 1);
    const std::vector<std::string> lines = Crlf_Lines(Content());
    const auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    EXPECT_GT(at("EDT_FTP_Login=bob"), at("EDT_File_Name = Img_ "));
    EXPECT_LT(at("EDT_FTP_Login=bob"), at("[Window]"));
    EXPECT_GT(at("[integer]"), at(";trailing"));
    EXPECT_EQ(at("CKB_Use_FTP=1"), at("[integer]") + 1);
    ASSERT_LT(at("CKB_Use_FTP=1"), static_cast<std::ptrdiff_t>(lines.size()));

    // Apart from the two new keys and the new section, nothing moved.
    std::string rest = Content();
    for (const char* added : {"EDT_FTP_Login=bob\r\n", "[integer]\r\n", "CKB_Use_FTP=1\r\n"})
        rest.erase(rest.find(added), std::string(added).size());
    EXPECT_EQ(rest, expected);
}

TEST_F(Ini_Store, Reads_And_Extends_A_File_With_Other_Line_Ends) {
    dir.Write("datas.ini", "[string]\nA=1\nB=2");
    EXPECT_EQ(Ini_Read_String(path, "string", "B", ""), "2");
    Ini_Write_String(path, "string", "C", "3");
    EXPECT_EQ(Ini_Read_String(path, "string", "A", ""), "1");
    EXPECT_EQ(Ini_Read_String(path, "string", "B", ""), "2");
    EXPECT_EQ(Ini_Read_String(path, "string", "C", ""), "3");
    EXPECT_EQ(Crlf_Lines(Content()).size(), 4u) << Content();
}

TEST_F(Ini_Store, A_Missing_Folder_Gives_Neutral_Values_And_Creates_Nothing) {
    // Root writes through any permission bits, so the folder is a plain file.
    dir.Write("not_a_folder", "x");
    for (const std::string& where :
         {dir.File("not_a_folder/datas.ini"), dir.File("no/datas.ini")}) {
        SCOPED_TRACE(where);
        EXPECT_EQ(Ini_Read_String(where, "string", "DED_Dest_Folder", "/pics"), "");
        EXPECT_EQ(Ini_Read_Integer(where, "integer", "EDT_Timer_Refresh", 200), 0);
        Ini_Write_String(where, "string", "A", "1");
        Ini_Delete_Key(where, "string", "A");
    }
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"not_a_folder"});
    EXPECT_EQ(dir.Read("not_a_folder"), "x");
}

TEST_F(Ini_Store, An_Unwritable_File_Still_Reads_Its_Keys) {
    const std::string original = "[string]\r\nDED_Dest_Folder=/pics\r\n"
                                 "[integer]\r\nEDT_Timer_Refresh=300\r\n";
    dir.Write("datas.ini", original);

    // Root is not exempt from the file size limit: at 0 no rewrite can land.
    // Nothing may be printed while it holds, as stdout may be a file.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit none = saved;
    none.rlim_cur = 0;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
    const std::string folder = Ini_Read_String(path, "string", "DED_Dest_Folder", "x");
    const int32_t refresh = Ini_Read_Integer(path, "integer", "EDT_Timer_Refresh", 200);
    const std::string file_name = Ini_Read_String(path, "string", "EDT_File_Name", "Img_");
    const int32_t threshold = Ini_Read_Integer(path, "integer", "EDT_Seuil_Detect", 5);
    Ini_Write_Integer(path, "integer", "EDT_Timer_Refresh", 1000);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(folder, "/pics");
    EXPECT_EQ(refresh, 300);
    EXPECT_EQ(file_name, "");
    EXPECT_EQ(threshold, 0);
    EXPECT_EQ(Content(), original);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
}

TEST_F(Ini_Store, A_Read_Only_File_Reads_Neutral_Values_And_Is_Never_Rewritten) {
    const std::string original = "[string]\r\nDED_Dest_Folder=/pics\r\n";
    dir.Write("datas.ini", original);
    fs::permissions(path, fs::perms(0444));
    EXPECT_EQ(Ini_Read_String(path, "string", "DED_Dest_Folder", "x"), "/pics");
    EXPECT_EQ(Ini_Read_String(path, "string", "EDT_File_Name", "Img_"), "");
    EXPECT_EQ(Ini_Read_Integer(path, "integer", "EDT_Seuil_Detect", 5), 0);
    Ini_Write_String(path, "string", "DED_Dest_Folder", "/elsewhere");
    Ini_Write_Integer(path, "integer", "EDT_Timer_Refresh", 1000);
    EXPECT_EQ(Mode_Of(path), 0444u);
    EXPECT_EQ(Content(), original);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
}

TEST_F(Ini_Store, An_Existing_File_Keeps_Its_Mode) {
    dir.Write("datas.ini", "[string]\r\nA=1\r\n");
    fs::permissions(path, fs::perms(0640));
    Ini_Write_String(path, "string", "A", "2");
    Ini_Read_String(path, "string", "B", "3");
    EXPECT_EQ(Mode_Of(path), 0640u);
    EXPECT_EQ(Content(), "[string]\r\nA=2\r\nB=3\r\n");
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
}

TEST_F(Ini_Store, Line_Breaks_Cannot_Add_Lines) {
    Ini_Write_String(path, "string", "EDT_FTP_Password", "pw\r\n[integer]\r\nCKB_Use_FTP=1");
    Ini_Write_String(path, "string", "EDT_FTP_Login\nCKB_Use_FTP", "1");
    Ini_Write_String(path, "string\r\n[integer", "X", "1");
    const std::string text = Content();
    EXPECT_TRUE(Only_Crlf_Line_Ends(text));
    EXPECT_EQ(Crlf_Lines(text).size(), 5u) << text;
    const std::string password = Ini_Read_String(path, "string", "EDT_FTP_Password", "");
    EXPECT_EQ(password.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(password.substr(0, 2), "pw");
    EXPECT_EQ(Ini_Read_Integer(path, "integer", "CKB_Use_FTP", 0), 0);
}

// Many keys written at once give the bytes the same keys written one by one
// give, whatever the file held before, in one replacement of the file.
TEST_F(Ini_Store, Writing_Many_Keys_At_Once_Gives_The_Bytes_Of_Writing_Them_One_By_One) {
    const std::vector<Ini_Value> values = {
        {"integer", "RBT_Rec_Launch", "2"},
        {"string", "DED_Dest_Folder", "/pics"},
        {"integer", "EDT_Seuil_Detect", "7"},
        {"Integer", "rbt_rec_launch", "1"},
        {"string", "EDT_FTP_Password", "a\r\nb"},
        {"string", "EDT_File_Name", ""},
        {"new", "Key", "\"quoted\""},
    };
    const std::vector<std::pair<std::string, std::string>> starts = {
        {"no file", ""},
        {"empty file", "\r\n"},
        {"keys in another order, a comment and a foreign section",
         "; mine\r\n[string]\r\nEDT_File_Name=Img_\r\n[Window]\r\nLeft=3\r\n"
         "[integer]\r\nEDT_Seuil_Detect=5\r\nRBT_Rec_Launch=0\r\n"},
        {"byte order mark and bare line feeds", "\xEF\xBB\xBF[integer]\nRBT_Rec_Launch=0\n"},
    };
    for (const auto& [what, start] : starts) {
        SCOPED_TRACE(what);
        test::Temp_Dir one_by_one;
        test::Temp_Dir at_once;
        if (what != "no file") {
            one_by_one.Write("datas.ini", start);
            at_once.Write("datas.ini", start);
        }
        for (const Ini_Value& v : values)
            Ini_Write_String(one_by_one.File("datas.ini"), v.section, v.key, v.value);
        Ini_Write_All(at_once.File("datas.ini"), values);
        EXPECT_EQ(at_once.Read("datas.ini"), one_by_one.Read("datas.ini"));
        if (what == "no file") {
            EXPECT_EQ(Mode_Of(at_once.File("datas.ini")) & 0777, 0600u);
        }
    }
}

TEST_F(Ini_Store, Writing_Many_Keys_Into_A_Missing_Folder_Creates_Nothing) {
    const std::string missing = dir.File("gone/datas.ini");
    Ini_Write_All(missing, {{"integer", "A", "1"}, {"string", "B", "x"}});
    EXPECT_FALSE(fs::exists(dir.Path() / "gone"));
}

TEST_F(Ini_Store, Delete_Key_Removes_Only_That_Line) {
    const std::string original = "[string]\r\na=1\r\n; note\r\nb=2\r\nc=3\r\n[integer]\r\nb=5\r\n";
    dir.Write("datas.ini", original);
    Ini_Delete_Key(path, "STRING", "B");
    EXPECT_EQ(Content(), "[string]\r\na=1\r\n; note\r\nc=3\r\n[integer]\r\nb=5\r\n");
    EXPECT_EQ(Ini_Read_String(path, "string", "b", "back"), "back");

    const std::string now = Content();
    Ini_Delete_Key(path, "string", "missing");
    Ini_Delete_Key(path, "missing", "a");
    EXPECT_EQ(Content(), now);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});

    const std::string absent = dir.File("absent.ini");
    Ini_Delete_Key(absent, "string", "a");
    EXPECT_FALSE(fs::exists(absent));
}

TEST(Ini_Document, First_Of_A_Name_Wins_And_A_Byte_Order_Mark_Is_Kept) {
    // Windows editors put a byte order mark in front of the first section.
    Ini_Document doc =
        Ini_Document::Parse("\xEF\xBB\xBF[string]\r\nk=1\r\nK=2\r\n[STRING]\r\nk=3\r\n");
    EXPECT_EQ(doc.Value("string", "k"), std::optional<std::string>("1"));
    EXPECT_EQ(doc.Value("string", "missing"), std::nullopt);
    EXPECT_EQ(doc.Value("missing", "k"), std::nullopt);

    doc.Set("String", "K", "9");
    EXPECT_EQ(doc.Serialize(), "\xEF\xBB\xBF[string]\r\nk=9\r\nK=2\r\n[STRING]\r\nk=3\r\n");
    EXPECT_TRUE(doc.Remove("string", "k"));
    EXPECT_EQ(doc.Value("string", "k"), std::optional<std::string>("2"));
    EXPECT_FALSE(doc.Remove("integer", "k"));
    EXPECT_EQ(doc.Serialize(), "\xEF\xBB\xBF[string]\r\nK=2\r\n[STRING]\r\nk=3\r\n");
}

} // namespace
} // namespace vistrel
