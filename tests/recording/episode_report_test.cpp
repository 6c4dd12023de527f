// What the tick tells about episodes for the messages to the user's phone.
#include "recording/recording_controller.h"

#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

class Episode_Reports : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    test::Fake_View view;
    test::Fake_Camera camera;
    test::Fake_Clock clock;
    Upload_List files;
    Recording_Controller tick{view, camera, clock, files, nullptr};
    std::vector<Episode_Report> started;
    std::vector<Episode_Report> ended;
    const QImage calm_a = test::Texture(0);
    const QImage calm_b = test::Texture(1);
    const QImage moving = test::Texture(2);

    void SetUp() override {
        view.settings = test::Recording_Settings(dir.Folder());
        view.settings.Delay_Start_ms = 0;
        view.settings.Delay_Stop_ms = 1000;
        tick.Set_Stamp_Dpi(96);
        tick.On_Episode_Started([this](const Episode_Report& r) { started.push_back(r); });
        tick.On_Episode_Ended([this](const Episode_Report& r) { ended.push_back(r); });
    }
    void Tick(const QImage& frame, int second) {
        clock.ticks += 200;
        clock.now.second = second;
        camera.frames.push_back(frame);
        tick.TMR_Refresh_IMGTimer();
    }
};

TEST_F(Episode_Reports, AMotionEpisodeIsToldAtItsFirstPictureAndAtItsEnd) {
    tick.BTN_Start_Stop_Rec_DetectClick();
    Tick(calm_a, 10);
    Tick(moving, 11); // over the threshold: 100
    EXPECT_TRUE(started.empty()) << "nothing on the disk yet";
    Tick(calm_a, 12); // first picture; over again
    ASSERT_EQ(started.size(), 1u);
    const Episode_Report& start = started[0];
    EXPECT_TRUE(start.motion);
    EXPECT_EQ(start.folder, "RIDEV_2026_12_08/D0001");
    EXPECT_EQ(start.picture_name, "I_14_05_12__00001.jpg");
    EXPECT_EQ(start.picture_path, dir.Folder() + "RIDEV_2026_12_08/D0001/I_14_05_12__00001.jpg");
    EXPECT_EQ(start.time.second, 12);
    EXPECT_EQ(start.level, 100.0);

    Tick(calm_b, 13); // low
    Tick(calm_a, 14);
    Tick(calm_b, 15);
    Tick(calm_a, 16);
    Tick(calm_b, 17); // 1 s after the last motion: goes on
    EXPECT_TRUE(ended.empty());
    Tick(calm_a, 18); // past the stop delay: ends, recorded
    ASSERT_EQ(ended.size(), 1u);
    const Episode_Report& end = ended[0];
    EXPECT_EQ(end.folder, "RIDEV_2026_12_08/D0001");
    EXPECT_EQ(end.pictures, 7u);
    EXPECT_EQ(end.duration_ms, 6u * 200);
    EXPECT_EQ(end.picture_name, "I_14_05_18__00007.jpg");
    EXPECT_EQ(end.level, 100.0);
    EXPECT_EQ(started.size(), 1u);
}

TEST_F(Episode_Reports, WithPicturesFromBeforeTheMotionTheTriggerPictureTellsIt) {
    Detection_Settings detection;
    detection.pre_capture = 3;
    tick.Set_Detection(detection);
    tick.BTN_Start_Stop_Rec_DetectClick();
    Tick(calm_a, 10);
    Tick(calm_b, 11);
    Tick(moving, 12); // over: kept as the last of three
    Tick(moving, 13);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].picture_name, "I_14_05_12__00003.jpg");
    EXPECT_EQ(started[0].level, 100.0);
    tick.BTN_StopClick();
    ASSERT_EQ(ended.size(), 1u) << "stopping ends the episode";
    EXPECT_EQ(ended[0].pictures, 4u);
    EXPECT_EQ(ended[0].duration_ms, 3u * 200) << "from the oldest picture kept";
}

TEST_F(Episode_Reports, ContinuousRecordingIsToldOnceAtItsStartAndHasNoEnd) {
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_a, 10);
    Tick(moving, 11);
    Tick(calm_a, 12);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_FALSE(started[0].motion);
    EXPECT_EQ(started[0].folder, "RIDEV_2026_12_08/R0001");
    EXPECT_EQ(started[0].picture_name, "I_14_05_10__00001.jpg");
    tick.BTN_StopClick();
    Tick(calm_a, 13);
    EXPECT_TRUE(ended.empty());
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_a, 20);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[1].folder, "RIDEV_2026_12_08/R0002");
}

TEST_F(Episode_Reports, AnEpisodeWhosePicturesCouldNotBeWrittenIsNeverTold) {
    view.settings.Dest_Folder = dir.Folder() + "file/";
    dir.Write("file", "not a folder");
    tick.BTN_Start_Stop_Rec_DetectClick();
    Tick(calm_a, 10);
    Tick(moving, 11);
    Tick(calm_a, 12);
    Tick(moving, 13);
    tick.BTN_StopClick();
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(ended.empty());
}

} // namespace
} // namespace vistrel
