// The episode and picture counters at the top of their range: they go on as
// unsigned 32-bit numbers, into folders and names written in full, and wrap
// to 0 after 4294967295.
#include "recording/recording_controller.h"
#include "recording/storage_layout.h"

#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

struct Counter_Case {
    const char* name;
    bool motion; // a motion episode, else continuous recording
    uint32_t folder_before;
    uint32_t image_before;
    uint32_t folder_after;
    uint32_t image_after;
    const char* picture; // relative folder and name of the picture recorded
};

void PrintTo(const Counter_Case& c, std::ostream* os) {
    *os << c.name;
}

class Episode_Counters_At_The_Top : public ::testing::TestWithParam<Counter_Case> {};

TEST_P(Episode_Counters_At_The_Top, Advance_Into_Folders_And_Names_Written_In_Full) {
    const Counter_Case& c = GetParam();
    test::Temp_Dir dir;
    test::Fake_View view;
    test::Fake_Camera camera;
    test::Fake_Clock clock;
    Upload_List files;
    Recording_Controller tick(view, camera, clock, files, nullptr);
    view.settings = test::Recording_Settings(dir.Folder());
    view.settings.Delay_Start_ms = 0;
    view.jpeg_size_index = 4;
    tick.Set_Stamp_Dpi(96);
    Recording_State& state = tick.State();
    (c.motion ? state.Num_Folder_D : state.Num_Folder_R) = c.folder_before;
    state.Num_Image = c.image_before;

    // Motion opens its episode in one tick and records from the next; "Rec"
    // opens it and records in the same tick.
    const std::vector<QImage> frames =
        c.motion ? std::vector{test::Texture(0), test::Texture(2), test::Texture(2)}
                 : std::vector{test::Texture(0)};
    if (c.motion)
        tick.BTN_Start_Stop_Rec_DetectClick();
    else
        tick.BTN_Start_Stop_RecClick();
    for (const QImage& frame : frames) {
        clock.ticks += 200;
        camera.frames.push_back(frame);
        tick.TMR_Refresh_IMGTimer();
    }

    EXPECT_EQ(c.motion ? state.Num_Folder_D : state.Num_Folder_R, c.folder_after);
    EXPECT_EQ(state.Num_Image, c.image_after);
    const std::vector<TFichier> recorded = files.Snapshot();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].Folder + recorded[0].Name, c.picture);
    EXPECT_TRUE(fs::exists(dir.Folder() + c.picture));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Episode_Counters_At_The_Top,
    testing::Values(Counter_Case{"Continuous_Past_2147483647", false, 2147483647u, 2147483647u,
                                 2147483648u, 2147483648u,
                                 "RIDEV_2026_12_08/R2147483648/I_14_05_09__2147483648.jpg"},
                    Counter_Case{"Continuous_Wraps_To_0", false, 4294967295u, 4294967295u, 0u, 0u,
                                 "RIDEV_2026_12_08/R0000/I_14_05_09__00000.jpg"},
                    Counter_Case{"Motion_Past_2147483647", true, 2147483647u, 7u, 2147483648u, 8u,
                                 "RIDEV_2026_12_08/D2147483648/I_14_05_09__00008.jpg"},
                    Counter_Case{"Motion_Wraps_To_0", true, 4294967295u, 2147483646u, 0u,
                                 2147483647u, "RIDEV_2026_12_08/D0000/I_14_05_09__2147483647.jpg"}),
    [](const testing::TestParamInfo<Counter_Case>& info) { return std::string(info.param.name); });

// A full episode folder opens the next one, past 2147483647 and round to 0.
TEST(Episode_Counters, Rollover_Of_A_Full_Folder_Goes_On_Past_The_Top) {
    test::Temp_Dir dir;
    Working_Settings settings = test::Recording_Settings(dir.Folder());
    settings.Max_Files = 0; // every picture finds its folder full
    const Local_Date_Time now = {2024, 3, 7, 14, 5, 9};
    Recording_State state;
    state.Rec_Motion = true;
    state.Num_Folder_D = 2147483647u;
    state.Num_Image = 5;
    EXPECT_EQ(Next_Picture_Destination(state, settings, now).relative_folder,
              "RIDEV_2024_03_07/D2147483648/");
    state.Num_Folder_D = 4294967295u;
    EXPECT_EQ(Next_Picture_Destination(state, settings, now).relative_folder,
              "RIDEV_2024_03_07/D0000/");
    EXPECT_EQ(state.Num_Folder_D, 0u);
    EXPECT_EQ(state.Num_Image, 0u);
}

struct Scan_Case {
    const char* name;
    std::vector<const char*> folders;
    uint32_t highest_d;
    uint32_t highest_r;
};

void PrintTo(const Scan_Case& c, std::ostream* os) {
    *os << c.name;
}

class Scan_Of_Large_Numbers : public ::testing::TestWithParam<Scan_Case> {};

// A restart goes on after the highest folder of the day, whatever its number;
// a number too large for the counters reads as 0, as a name that is no
// number does.
TEST_P(Scan_Of_Large_Numbers, Finds_The_Highest_Number_That_Fits) {
    const Scan_Case& c = GetParam();
    test::Temp_Dir dir;
    for (const char* folder : c.folders)
        fs::create_directories(dir.Path() / "RIDEV_2024_03_07" / folder);
    const Episode_Counters found =
        Scan_Episode_Counters(dir.Path().string(), {2024, 3, 7, 14, 5, 9});
    EXPECT_EQ(found.highest_d, c.highest_d);
    EXPECT_EQ(found.highest_r, c.highest_r);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Scan_Of_Large_Numbers,
    testing::Values(
        Scan_Case{
            "At_2147483647", {"D2147483647", "D0004", "R2147483647"}, 2147483647u, 2147483647u},
        Scan_Case{"Past_2147483647",
                  {"D2147483647", "D2147483648", "R3000000000"},
                  2147483648u,
                  3000000000u},
        Scan_Case{"At_4294967295", {"D4294967295", "R0002"}, 4294967295u, 2u},
        Scan_Case{
            "Too_Large_Reads_As_0", {"D4294967296", "D0003", "R99999999999999999999"}, 3u, 0u},
        Scan_Case{"Negative_Reads_As_0", {"D-5", "R-2147483648"}, 0u, 0u}),
    [](const testing::TestParamInfo<Scan_Case>& info) { return std::string(info.param.name); });

} // namespace
} // namespace vistrel
