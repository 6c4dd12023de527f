#include "recording/storage_layout.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

const Local_Date_Time kMarch7 = {2024, 3, 7, 14, 5, 9};

TEST(StorageNames, AreBuiltFromPaddedNumbers) {
    EXPECT_EQ(Day_Folder_Name(kMarch7), "RIDEV_2024_03_07/");
    EXPECT_EQ(Day_Folder_Name({2026, 12, 31, 0, 0, 0}), "RIDEV_2026_12_31/");
    struct Episode {
        const char* letter;
        uint32_t number;
        const char* expected;
    };
    for (const Episode& e :
         {Episode{"D", 3, "D0003/"}, Episode{"R", 1, "R0001/"}, Episode{"D", 0, "D0000/"},
          Episode{"D", 12345, "D12345/"}, Episode{"D", 2147483647u, "D2147483647/"},
          Episode{"D", 2147483648u, "D2147483648/"}, Episode{"R", 4294967295u, "R4294967295/"}})
        EXPECT_EQ(Episode_Folder_Name(e.letter, e.number), e.expected);
    EXPECT_EQ(Picture_File_Name(14, 5, 9, 12), "I_14_05_09__00012");
    EXPECT_EQ(Picture_File_Name(0, 0, 0, 0), "I_00_00_00__00000");
    EXPECT_EQ(Picture_File_Name(23, 59, 59, 123456), "I_23_59_59__123456");
    EXPECT_EQ(Picture_File_Name(23, 59, 59, 4294967295u), "I_23_59_59__4294967295");
}

class PictureDestination : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Working_Settings settings;
    Recording_State state;

    void SetUp() override {
        settings.Dest_Folder = dir.Folder();
        settings.Max_Files = 30000;
        settings.Fixed_File_Name = "Img_";
    }

    // Records one picture the way the tick does: advance the number, ask for
    // the destination, write the file there.
    std::string Record(const Local_Date_Time& now) {
        ++state.Num_Image;
        const Picture_Destination d = Next_Picture_Destination(state, settings, now);
        fs::create_directories(d.full_folder);
        std::ofstream(d.full_folder + d.file_name + ".jpg") << "jpeg";
        return d.relative_folder + d.file_name;
    }
};

TEST_F(PictureDestination, MotionContinuousAndFixedNameModes) {
    struct Case {
        const char* what;
        bool motion, continuous, fixed_name;
        const char* relative;
        const char* full_below_dest;
        const char* name;
    };
    const Case cases[] = {
        {"motion", true, false, false, "RIDEV_2024_03_07/D0003/", "RIDEV_2024_03_07/D0003/",
         "I_14_05_09__00012"},
        {"continuous", false, true, false, "RIDEV_2024_03_07/R0001/", "RIDEV_2024_03_07/R0001/",
         "I_14_05_09__00012"},
        {"fixed name while motion", true, false, true, "RIDEV_2024_03_07/D0003/", "", "Img_"},
        {"fixed name while continuous", false, true, true, "RIDEV_2024_03_07/R0001/", "", "Img_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        state.Rec_Motion = c.motion;
        state.Rec_Continuous = c.continuous;
        state.Num_Folder_D = 3;
        state.Num_Folder_R = 1;
        state.Num_Image = 12;
        settings.Use_Same_File_Name = c.fixed_name;
        const Picture_Destination d = Next_Picture_Destination(state, settings, kMarch7);
        EXPECT_EQ(d.relative_folder, c.relative);
        EXPECT_EQ(d.full_folder, dir.Folder() + c.full_below_dest);
        EXPECT_EQ(d.file_name, c.name);
        EXPECT_EQ(state.Num_Image, 12);
        EXPECT_EQ(state.Num_Folder_D, 3);
        EXPECT_EQ(state.Num_Folder_R, 1);
    }
}

TEST_F(PictureDestination, FullFolderOpensTheNextEpisodeAtPictureZero) {
    settings.Max_Files = 3;
    state.Rec_Motion = true;
    state.Num_Folder_D = 3;
    std::vector<std::string> written;
    for (int i = 0; i < 7; ++i)
        written.push_back(Record(kMarch7));
    const std::vector<std::string> expected = {
        "RIDEV_2024_03_07/D0003/I_14_05_09__00001", "RIDEV_2024_03_07/D0003/I_14_05_09__00002",
        "RIDEV_2024_03_07/D0003/I_14_05_09__00003", "RIDEV_2024_03_07/D0004/I_14_05_09__00000",
        "RIDEV_2024_03_07/D0004/I_14_05_09__00001", "RIDEV_2024_03_07/D0004/I_14_05_09__00002",
        "RIDEV_2024_03_07/D0005/I_14_05_09__00000",
    };
    EXPECT_EQ(written, expected);
}

TEST_F(PictureDestination, ContinuousRolloverCountsTheRFolder) {
    settings.Max_Files = 2;
    state.Rec_Continuous = true;
    state.Num_Folder_R = 1;
    // A full D folder of the same number must not matter in continuous mode.
    for (const char* f : {"a.jpg", "b.jpg", "c.jpg"})
        dir.Write(std::string("RIDEV_2024_03_07/D0001/") + f, "x");
    EXPECT_EQ(Record(kMarch7), "RIDEV_2024_03_07/R0001/I_14_05_09__00001");
    EXPECT_EQ(Record(kMarch7), "RIDEV_2024_03_07/R0001/I_14_05_09__00002");
    EXPECT_EQ(Record(kMarch7), "RIDEV_2024_03_07/R0002/I_14_05_09__00000");
}

TEST_F(PictureDestination, NoLimitAboveZeroOpensAFolderForEveryPicture) {
    for (int32_t limit : {0, -1}) {
        SCOPED_TRACE(limit);
        settings.Max_Files = limit;
        state = Recording_State{};
        state.Rec_Motion = true;
        EXPECT_EQ(Record(kMarch7), "RIDEV_2024_03_07/D0001/I_14_05_09__00000");
        EXPECT_EQ(Record(kMarch7), "RIDEV_2024_03_07/D0002/I_14_05_09__00000");
    }
}

TEST_F(PictureDestination, FixedNameModeStillCountsAndRollsTheDatedFolder) {
    settings.Use_Same_File_Name = true;
    settings.Max_Files = 0;
    state.Rec_Motion = true;
    state.Num_Folder_D = 3;
    EXPECT_EQ(Record(kMarch7), "RIDEV_2024_03_07/D0004/Img_");
    EXPECT_EQ(state.Num_Folder_D, 4);
    EXPECT_TRUE(fs::exists(dir.File("Img_.jpg")));

    settings.Fixed_File_Name = "";
    settings.Max_Files = 30000;
    ++state.Num_Image;
    const Picture_Destination d = Next_Picture_Destination(state, settings, kMarch7);
    EXPECT_EQ(d.full_folder + d.file_name + ".jpg", dir.Folder() + ".jpg");
}

TEST_F(PictureDestination, EpisodeGoesOnInTheNewDayFolderAfterMidnight) {
    state.Rec_Motion = true;
    state.Num_Folder_D = 2;
    EXPECT_EQ(Record({2024, 3, 7, 23, 59, 50}), "RIDEV_2024_03_07/D0002/I_23_59_50__00001");
    EXPECT_EQ(Record({2024, 3, 8, 0, 0, 5}), "RIDEV_2024_03_08/D0002/I_00_00_05__00002");
}

TEST_F(PictureDestination, DoubledSeparatorOfTheDestinationIsHarmless) {
    settings.Dest_Folder = dir.Folder() + "/";
    settings.Max_Files = 1;
    state.Rec_Motion = true;
    state.Num_Folder_D = 1;
    EXPECT_EQ(Record(kMarch7), "RIDEV_2024_03_07/D0001/I_14_05_09__00001");
    EXPECT_EQ(Record(kMarch7), "RIDEV_2024_03_07/D0002/I_14_05_09__00000");
}

TEST(ScanEpisodeCounters, TakesTheHighestUpperCaseDirectoryNumbers) {
    test::Temp_Dir dir;
    const std::string day = "RIDEV_2024_03_07/";
    for (const char* folder : {"D0002", "D0007", "R0004", "Dxyz", "d0050", "r0090", "X0100"})
        fs::create_directories(dir.Path() / day / folder);
    dir.Write(day + "D0099.jpg", "not a folder");
    dir.Write(day + "R0123", "not a folder either");
    // Another day's folders do not count.
    fs::create_directories(dir.Path() / "RIDEV_2024_03_06" / "D0500");

    const Episode_Counters found = Scan_Episode_Counters(dir.Path().string(), kMarch7);
    EXPECT_EQ(found.highest_d, 7);
    EXPECT_EQ(found.highest_r, 4);
}

TEST(ScanEpisodeCounters, MissingDayFolderGivesZeros) {
    test::Temp_Dir dir;
    const Episode_Counters found = Scan_Episode_Counters(dir.Folder(), kMarch7);
    EXPECT_EQ(found.highest_d, 0);
    EXPECT_EQ(found.highest_r, 0);
    const Episode_Counters nowhere = Scan_Episode_Counters(dir.File("missing"), kMarch7);
    EXPECT_EQ(nowhere.highest_d, 0);
    EXPECT_EQ(nowhere.highest_r, 0);
}

} // namespace
} // namespace vistrel
