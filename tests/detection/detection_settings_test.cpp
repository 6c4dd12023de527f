#include "detection/detection_settings.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vistrel {
namespace {

// The file as other tools write and read it.
const std::string kSample = "[detection]\n"
                            "Ignore_Light=0\n"
                            "Pre_Capture=0\n"
                            "[areas]\n"
                            "Area1=watch,1000,500,4000,3000\n"
                            "Area2=ignore,0,0,10000,1500\n"
                            "Area3=hide,7500,7500,2500,2500\n";

const Detection_Area kWatch{Area_Kind::Watch, 1000, 500, 4000, 3000};
const Detection_Area kIgnore{Area_Kind::Ignore, 0, 0, 10000, 1500};
const Detection_Area kHide{Area_Kind::Hide, 7500, 7500, 2500, 2500};

std::string With_Crlf(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

std::string Areas_File(const std::string& area_lines) {
    return "[detection]\nIgnore_Light=0\nPre_Capture=0\n[areas]\n" + area_lines;
}

TEST(Detection_Settings_Text, Reads_The_Sample_File_And_Writes_It_Back_Byte_For_Byte) {
    const Detection_Settings read = Detection_Settings::Parse(kSample);
    EXPECT_FALSE(read.ignore_light);
    EXPECT_EQ(read.pre_capture, 0);
    EXPECT_EQ(read.areas, (std::vector<Detection_Area>{kWatch, kIgnore, kHide}));
    EXPECT_EQ(read.Text(), kSample);

    Detection_Settings changed = read;
    changed.ignore_light = true;
    changed.pre_capture = 7;
    changed.areas.pop_back();
    EXPECT_EQ(changed.Text(), "[detection]\nIgnore_Light=1\nPre_Capture=7\n[areas]\n"
                              "Area1=watch,1000,500,4000,3000\n"
                              "Area2=ignore,0,0,10000,1500\n");
    EXPECT_EQ(Detection_Settings::Parse(changed.Text()), changed);
}

TEST(Detection_Settings_Text, Reads_Cr_Lf_As_Lf) {
    const Detection_Settings lf = Detection_Settings::Parse(kSample);
    EXPECT_EQ(Detection_Settings::Parse(With_Crlf(kSample)), lf);
    Detection_Settings other = lf;
    other.ignore_light = true;
    other.pre_capture = 12;
    EXPECT_EQ(Detection_Settings::Parse(With_Crlf(other.Text())), other);
    // Written back with LF, whatever it was read with.
    EXPECT_EQ(Detection_Settings::Parse(With_Crlf(kSample)).Text(), kSample);
}

TEST(Detection_Settings_Text, A_Bad_Area_Line_Is_Left_Out_Alone) {
    const char* bad_lines[] = {
        "paint,0,0,100,100",           // no such kind
        "watch,0,0,100",               // four fields
        "watch,0,0,100,100,5",         // six fields
        "watch,0,0,100,100,",          // a trailing comma is a sixth, empty field
        "watch,-1,0,100,100",          // negative
        "watch,0,-5,100,100",          // negative
        "watch,0,0,-100,100",          // negative
        "watch,9000,0,1001,10",        // X + W past 10000
        "watch,0,9000,10,1001",        // Y + H past 10000
        "watch,10000,0,1,1",           // starts at the edge
        "watch,0,0,0,100",             // no width
        "watch,0,0,100,0",             // no height
        "watch,a,0,100,100",           // not digits
        "watch,1e3,0,100,100",         // not digits
        "watch,10.5,0,100,100",        // a fraction
        "watch,+5,0,100,100",          // a sign
        "watch,0x10,0,100,100",        // hexadecimal
        "watch,1 0,0,100,100",         // a blank inside the number
        "watch,,0,100,100",            // an empty field
        "watch,99999999999,0,100,100", // past 32 bits
        "watch",
        "",
    };
    for (const char* bad : bad_lines) {
        SCOPED_TRACE(std::string("Area2=") + bad);
        const Detection_Settings read = Detection_Settings::Parse(
            Areas_File("Area1=watch,1000,500,4000,3000\nArea2=" + std::string(bad) +
                       "\nArea3=hide,7500,7500,2500,2500\n"));
        EXPECT_EQ(read.areas, (std::vector<Detection_Area>{kWatch, kHide}));
    }
}

TEST(Detection_Settings_Text, Blanks_Around_Fields_And_Leading_Zeros_Are_Read) {
    struct Case {
        const char* line;
        Detection_Area area;
    };
    const Case cases[] = {
        {"watch, 1000 ,500,\t4000,3000 ", kWatch},
        {" ignore ,0,0,10000,1500", kIgnore},
        {"hide,07500,7500,2500,002500", kHide},
        {"watch,0,0,10000,10000", {Area_Kind::Watch, 0, 0, 10000, 10000}},
        {"hide,9999,9999,1,1", {Area_Kind::Hide, 9999, 9999, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Detection_Settings read =
            Detection_Settings::Parse(Areas_File(std::string("Area1=") + c.line + "\n"));
        EXPECT_EQ(read.areas, std::vector<Detection_Area>{c.area});
    }
}

TEST(Detection_Settings_Text, Reads_Areas_In_Key_Order_And_No_More_Than_Eight) {
    // Keys as another tool may have left them: out of order, with a gap.
    const Detection_Settings shuffled = Detection_Settings::Parse(
        Areas_File("Area3=hide,7500,7500,2500,2500\nArea1=watch,1000,500,4000,3000\n"
                   "Area5=ignore,0,0,10000,1500\n"));
    EXPECT_EQ(shuffled.areas, (std::vector<Detection_Area>{kWatch, kHide, kIgnore}));
    // Numbered again from 1 when written.
    EXPECT_EQ(shuffled.Text(), Areas_File("Area1=watch,1000,500,4000,3000\n"
                                          "Area2=hide,7500,7500,2500,2500\n"
                                          "Area3=ignore,0,0,10000,1500\n"));

    std::string nine;
    for (int i = 1; i <= 9; ++i)
        nine += "Area" + std::to_string(i) + "=watch," + std::to_string(i * 100) + ",0,10,10\n";
    const Detection_Settings read = Detection_Settings::Parse(Areas_File(nine));
    ASSERT_EQ(read.areas.size(), kMost_Areas);
    for (size_t i = 0; i < read.areas.size(); ++i)
        EXPECT_EQ(read.areas[i].x, static_cast<int32_t>(i + 1) * 100);

    EXPECT_TRUE(Detection_Settings::Parse(Areas_File("Area9=watch,0,0,10,10\n"
                                                     "Area0=watch,0,0,10,10\n"))
                    .areas.empty());
}

TEST(Detection_Settings_Text, Writes_At_Most_Eight_Areas_And_Only_Those_Inside) {
    Detection_Settings settings;
    settings.areas.push_back({Area_Kind::Watch, 5000, 0, 5001, 10}); // outside
    for (int i = 0; i < 9; ++i)
        settings.areas.push_back({Area_Kind::Ignore, i * 100, 0, 10, 10});
    const Detection_Settings read = Detection_Settings::Parse(settings.Text());
    ASSERT_EQ(read.areas.size(), kMost_Areas);
    EXPECT_EQ(read.areas.front().x, 0);
    EXPECT_EQ(read.areas.back().x, 700);
    EXPECT_EQ(settings.Text().find("Area9"), std::string::npos);
}

TEST(Detection_Settings_Text, Pre_Capture_And_Light_Rule_Fall_Back_On_Bad_Values) {
    struct Case {
        const char* value;
        int pre_capture;
    };
    const Case cases[] = {{"0", 0},   {"5", 5},   {"25", 25},        {"26", 25},
                          {"30", 25}, {"-1", 0},  {"abc", 0},        {"", 0},
                          {"3x", 0},  {" 7 ", 7}, {"99999999999", 0}};
    for (const Case& c : cases) {
        const Detection_Settings read =
            Detection_Settings::Parse(std::string("[detection]\nPre_Capture=") + c.value + "\n");
        EXPECT_EQ(read.pre_capture, c.pre_capture) << '"' << c.value << '"';
        EXPECT_TRUE(read.areas.empty());
    }
    for (const auto& [value, on] :
         {std::pair{"1", true}, {"0", false}, {"yes", false}, {"", false}, {"-1", false}}) {
        const Detection_Settings read =
            Detection_Settings::Parse(std::string("[detection]\nIgnore_Light=") + value + "\n");
        EXPECT_EQ(read.ignore_light, on) << '"' << value << '"';
    }

    Detection_Settings out_of_range;
    out_of_range.pre_capture = 40;
    EXPECT_NE(out_of_range.Text().find("\nPre_Capture=25\n"), std::string::npos);
    out_of_range.pre_capture = -3;
    EXPECT_NE(out_of_range.Text().find("\nPre_Capture=0\n"), std::string::npos);
}

TEST(Detection_Settings_File, Missing_Or_Unreadable_File_Gives_The_Defaults) {
    test::Temp_Dir dir;
    EXPECT_EQ(Detection_Settings::Load(dir.Folder()), Detection_Settings{});
    EXPECT_EQ(Detection_Settings::Load(dir.Folder() + "no-such-folder/"), Detection_Settings{});
    // A folder where the file should be cannot be read as one.
    std::filesystem::create_directory(dir.Path() / Detection_Settings::kFile_Name);
    EXPECT_EQ(Detection_Settings::Load(dir.Folder()), Detection_Settings{});
}

TEST(Detection_Settings_File, Reads_A_File_Another_Tool_Wrote) {
    test::Temp_Dir dir;
    dir.Write(Detection_Settings::kFile_Name, With_Crlf(kSample));
    EXPECT_EQ(Detection_Settings::Load(dir.Folder()), Detection_Settings::Parse(kSample));
}

TEST(Detection_Settings_File, Save_Replaces_The_File_In_One_Step) {
    test::Temp_Dir dir;
    dir.Write(Detection_Settings::kFile_Name, "[detection]\nPre_Capture=3\n");
    Detection_Settings settings;
    settings.ignore_light = true;
    settings.pre_capture = 25;
    settings.areas = {kWatch, kIgnore, kHide};
    settings.Save(dir.Folder());

    EXPECT_EQ(Detection_Settings::Load(dir.Folder()), settings);
    EXPECT_EQ(dir.Read(Detection_Settings::kFile_Name), settings.Text());
    // Nothing of the write left beside it.
    EXPECT_EQ(test::Entries(dir.Path()), std::vector<std::string>{"detection.ini"});

    settings.areas.clear();
    settings.Save(dir.Folder());
    EXPECT_EQ(Detection_Settings::Load(dir.Folder()), settings);
    EXPECT_EQ(test::Entries(dir.Path()), std::vector<std::string>{"detection.ini"});
}

TEST(Detection_Settings_File, Save_Into_A_Missing_Folder_Throws_And_Leaves_Nothing) {
    test::Temp_Dir dir;
    const Detection_Settings settings = Detection_Settings::Parse(kSample);
    EXPECT_THROW(settings.Save(dir.Folder() + "gone/"), std::system_error);
    EXPECT_TRUE(test::Entries(dir.Path()).empty());
}

} // namespace
} // namespace vistrel
