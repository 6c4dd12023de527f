#include "recording/recording_controller.h"

#include "base/text_helpers.h"

#include "capture/image_view.h"
#include "capture/motion_measure.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

double Measure(const QImage& a, const QImage& b) {
    return Calc_Coef_Correl(View_Of(a), View_Of(b), false);
}

class Controller : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    test::Fake_View view;
    test::Fake_Camera camera;
    test::Fake_Clock clock;
    Upload_List files;
    int wakes = 0;
    Recording_Controller tick{view, camera, clock, files, [this] { ++wakes; }};
    const QImage calm_a = test::Texture(0);
    const QImage calm_b = test::Texture(1);
    const QImage moving = test::Texture(2);
    QImage last;

    void SetUp() override {
        view.settings = test::Recording_Settings(dir.Folder());
        tick.Set_Stamp_Dpi(96);
        const double low = Measure(calm_a, calm_b);
        ASSERT_GT(low, 0.0);
        ASSERT_LT(low, 5.0);
        ASSERT_EQ(Measure(calm_a, moving), 100.0);
    }

    // One timer period later, a tick on the given frame.
    void Tick(const QImage& frame, uint32_t period = 200) {
        clock.ticks += period;
        camera.frames.push_back(frame);
        last = frame;
        tick.TMR_Refresh_IMGTimer();
    }
    // A frame that differs from the previous one by a lot, or by a little.
    void Tick_Motion() { Tick(last == moving ? calm_a : moving); }
    void Tick_Calm() { Tick(last == calm_a ? calm_b : calm_a); }

    std::vector<std::string> Folders() const {
        std::vector<std::string> names;
        for (const auto& e : files.Snapshot())
            names.push_back(e.Folder);
        return names;
    }
};

TEST_F(Controller, FirstTickMeasuresNothingAndShowsZero) {
    Tick(calm_a);
    EXPECT_EQ(view.detection, "Detection : 0.0%");
    EXPECT_EQ(view.gauge, 0);
    EXPECT_EQ(view.detect_colour, kColour_Red);
    EXPECT_EQ(view.processing_time, " Processing time : 0ms");
    EXPECT_EQ(view.rec_caption, "Recording stopped");
    EXPECT_EQ(view.preview_caption, "No pictures are recording ...");
    EXPECT_EQ(view.live, calm_a);
}

TEST_F(Controller, NoFrameEndsTheTickAfterTheGrab) {
    view.settings.Use_FTP = true;
    tick.BTN_Start_Stop_RecClick();
    clock.ticks += 200;
    tick.TMR_Refresh_IMGTimer(); // nothing queued: the grab fails
    EXPECT_EQ(view.read_parameters_calls, 1);
    EXPECT_EQ(view.detect_colour, kColour_Red);
    EXPECT_EQ(view.detections_shown, 0);
    EXPECT_EQ(view.processing_time, "");
    EXPECT_EQ(wakes, 0);
    EXPECT_EQ(tick.State().Num_Folder_R, 0);
    EXPECT_TRUE(files.Snapshot().empty());
}

// Nothing is drawn while a tick runs: the window is told each thing once a
// tick, as it is to look when the tick ends. The live picture is the frame as
// recorded (stamped when the stamp is on), the detection panel red, or lime
// after motion.
TEST_F(Controller, EachTickTellsTheWindowOnceWhatItShowsAtItsEnd) {
    struct Case {
        const char* name;
        bool recording;
        bool stamp;
        bool motion;
        bool folder_writable;
        bool live_stamped;
        uint32_t colour;
    };
    const Case cases[] = {
        {"stopped, calm", false, true, false, true, false, kColour_Red},
        {"stopped, motion", false, true, true, true, false, kColour_Lime},
        {"recording, stamp, motion", true, true, true, true, true, kColour_Lime},
        {"recording, stamp, calm", true, true, false, true, true, kColour_Red},
        {"recording, no stamp", true, false, true, true, false, kColour_Lime},
        {"recording, stamp, picture not written", true, true, true, false, true, kColour_Red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::Temp_Dir folder;
        test::Fake_View v;
        v.settings = test::Recording_Settings(folder.Folder());
        v.add_time_date = c.stamp;
        Upload_List queue;
        Recording_Controller t{v, camera, clock, queue, nullptr};
        t.Set_Stamp_Dpi(96);
        if (c.recording)
            t.BTN_Start_Stop_RecClick();
        camera.frames = {calm_a, c.motion ? moving : calm_b};
        t.TMR_Refresh_IMGTimer();
        if (!c.folder_writable) {
            fs::remove_all(folder.Path());
            std::ofstream(folder.Path().string()) << "in the way";
        }
        v.detect_colours.clear();
        v.live_shown = 0;
        clock.ticks += 200;
        t.TMR_Refresh_IMGTimer();
        EXPECT_EQ(v.live_shown, 1);
        EXPECT_EQ(v.live.size(), moving.size());
        const QImage& sent = c.motion ? moving : calm_b;
        EXPECT_EQ(v.live != sent, c.live_stamped);
        // Above the stamp the picture is the camera's.
        EXPECT_EQ(v.live.copy(0, 0, 320, 200), sent.copy(0, 0, 320, 200));
        // A failed write shows the failure; an ended tick leaves the panel red.
        EXPECT_EQ(v.detect_colours,
                  std::vector<uint32_t>{c.folder_writable ? c.colour : kColour_Red});
        EXPECT_EQ(v.save_problem.empty(), c.folder_writable);
    }
}

// A camera that notes, at each grab, whether anybody still holds the frame
// it handed out before and did not give back, and whether each frame given
// back has no other holder, so that the next could be made in its memory.
class Watching_Camera : public Frame_Source {
public:
    std::vector<bool> last_still_held;
    std::vector<bool> given_back_alone;
    void Open_Capture() noexcept override {}
    void Close_Capture() noexcept override {}
    QImage Grab_Frame() override {
        if (!last_.isNull())
            last_still_held.push_back(!last_.isDetached());
        last_ = test::Texture(grabs_++ % 3);
        return last_;
    }
    void Take_Back(QImage frame) noexcept override {
        if (frame.isNull())
            return;
        // Its own copy aside (a stamp drew on a copy of it).
        last_ = QImage();
        given_back_alone.push_back(frame.isDetached());
    }

private:
    QImage last_;
    int grabs_ = 0;
};

// Two camera frames alive at once would add a frame's size to the peak
// memory, whatever the tick does with them.
TEST_F(Controller, TheLastFrameIsLetGoBeforeTheNextIsTaken) {
    // As the window: the frame is drawn, not kept.
    struct Drawing_View : test::Fake_View {
        void Show_Live(const QImage&) override { ++live_shown; }
    };
    for (const bool recording : {false, true}) {
        SCOPED_TRACE(recording ? "recording" : "stopped");
        Drawing_View drawing;
        drawing.settings = view.settings;
        drawing.add_time_date = recording;
        Watching_Camera watching;
        Recording_Controller t{drawing, watching, clock, files, nullptr};
        if (recording)
            t.BTN_Start_Stop_RecClick();
        for (int i = 0; i < 4; ++i) {
            clock.ticks += 200;
            t.TMR_Refresh_IMGTimer();
        }
        EXPECT_EQ(watching.last_still_held, std::vector<bool>());
        EXPECT_EQ(watching.given_back_alone, std::vector<bool>(3, true));
        EXPECT_EQ(drawing.live_shown, 4);
    }
}

TEST_F(Controller, EachStartOfContinuousRecordingOpensOneNewRFolder) {
    tick.State().Num_Folder_R = 4; // as found on disk at start-up
    Tick(calm_a);
    EXPECT_TRUE(view.ftp_test_enabled);
    tick.BTN_Start_Stop_RecClick();
    EXPECT_FALSE(view.ftp_test_enabled);
    Tick(calm_a);
    tick.BTN_Start_Stop_RecClick(); // pressed again while recording
    Tick(calm_a);
    tick.BTN_StopClick();
    EXPECT_TRUE(view.ftp_test_enabled);
    Tick(calm_a);
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_a);
    tick.BTN_StopClick(); // no tick in between: same episode
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_a);
    EXPECT_EQ(Folders(),
              (std::vector<std::string>{"RIDEV_2026_12_08/R0005/", "RIDEV_2026_12_08/R0005/",
                                        "RIDEV_2026_12_08/R0006/", "RIDEV_2026_12_08/R0006/"}));
    EXPECT_EQ(tick.State().Num_Image, 4);
    EXPECT_EQ(view.rec_colour, kColour_Red);
    EXPECT_EQ(view.rec_caption, "Recording in progress ...");
    EXPECT_EQ(view.preview_caption, "");
}

TEST_F(Controller, RecordedPicturesAreOnDiskAndListedInOrder) {
    tick.BTN_Start_Stop_RecClick();
    for (int i = 0; i < 3; ++i) {
        clock.now.second = 10 + i;
        Tick(calm_a);
    }
    const auto entries = files.Snapshot();
    ASSERT_EQ(entries.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const std::string name =
            "I_14_05_1" + std::to_string(i) + "__0000" + std::to_string(i + 1) + ".jpg";
        EXPECT_EQ(entries[size_t(i)].Name, name);
        EXPECT_EQ(entries[size_t(i)].Folder, "RIDEV_2026_12_08/R0001/");
        EXPECT_EQ(entries[size_t(i)].Path, dir.Folder() + "RIDEV_2026_12_08/R0001/" + name);
        EXPECT_FALSE(entries[size_t(i)].Sent);
        EXPECT_TRUE(fs::exists(entries[size_t(i)].Path));
    }
    EXPECT_EQ(view.file_name, "I_14_05_12__00003.jpg");
    EXPECT_EQ(view.folder_name, dir.Folder() + "RIDEV_2026_12_08/R0001/");
}

TEST_F(Controller, FixedNameModeWritesOneFileButListsDatedFolders) {
    view.settings.Use_Same_File_Name = true;
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_a);
    Tick(calm_b);
    const auto entries = files.Snapshot();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].Path, dir.Folder() + "Img_.jpg");
    EXPECT_EQ(entries[1].Folder, "RIDEV_2026_12_08/R0001/");
    EXPECT_TRUE(fs::exists(dir.File("Img_.jpg")));
}

TEST_F(Controller, MotionIsIgnoredDuringTheStartDelayThenStartsAnEpisode) {
    Tick(calm_a);
    tick.BTN_Start_Stop_Rec_DetectClick();
    EXPECT_FALSE(view.ftp_test_enabled);
    const uint32_t armed = clock.ticks;
    while (clock.ticks + 200 <= armed + 5000) {
        Tick_Motion();
        EXPECT_FALSE(tick.State().Rec_Motion);
        EXPECT_EQ(view.detect_colour, kColour_Lime);
    }
    EXPECT_TRUE(files.Snapshot().empty());

    Tick_Motion(); // first tick past the grace period
    EXPECT_TRUE(tick.State().Rec_Motion);
    EXPECT_EQ(tick.State().Num_Folder_D, 1);
    EXPECT_TRUE(files.Snapshot().empty()) << "the triggering frame is not recorded";

    Tick_Motion();
    EXPECT_EQ(Folders(), std::vector<std::string>{"RIDEV_2026_12_08/D0001/"});
}

TEST_F(Controller, MeasureEqualToTheThresholdIsNotMotion) {
    view.settings.Delay_Start_ms = 0;
    view.settings.Threshold = Measure(calm_a, calm_b);
    tick.BTN_Start_Stop_Rec_DetectClick();
    for (int i = 0; i < 5; ++i)
        Tick_Calm();
    EXPECT_FALSE(tick.State().Rec_Motion);
    EXPECT_EQ(view.detect_colour, kColour_Red);

    view.settings.Threshold = Measure(calm_a, calm_b) - 1e-6;
    Tick_Calm();
    EXPECT_TRUE(tick.State().Rec_Motion);
}

TEST_F(Controller, EpisodeStopsAtTheFirstLowTickAfterTheStopDelay) {
    view.settings.Delay_Start_ms = 0;
    tick.BTN_Start_Stop_Rec_DetectClick();
    Tick(calm_a);
    Tick_Motion();
    ASSERT_TRUE(tick.State().Rec_Motion);
    Tick_Motion(); // the episode's first picture, and motion again
    const uint32_t last_motion = clock.ticks;

    // Identical frames measure exactly 0 and change nothing, however long.
    for (int i = 0; i < 200; ++i)
        Tick(calm_a);
    EXPECT_TRUE(tick.State().Rec_Motion);

    clock.ticks = last_motion + 20000 - 200;
    Tick_Calm(); // exactly at the stop delay: goes on
    EXPECT_TRUE(tick.State().Rec_Motion);
    Tick_Calm();
    EXPECT_FALSE(tick.State().Rec_Motion);
    const size_t recorded = files.Snapshot().size();
    EXPECT_EQ(recorded, 203u); // every tick of the episode, the stopping one included

    Tick_Calm();
    EXPECT_EQ(files.Snapshot().size(), recorded);
    EXPECT_EQ(view.rec_caption, "Waiting for motion detection ...");

    Tick_Motion();
    Tick_Motion();
    EXPECT_EQ(Folders().back(), "RIDEV_2026_12_08/D0002/");
}

TEST_F(Controller, DelaysHoldAcrossTheWrapOfTheTickCount) {
    // Armed 8 s before the 32-bit millisecond count wraps.
    clock.ticks = 0xFFFFE000u;
    Tick(calm_a, 0);
    tick.BTN_Start_Stop_Rec_DetectClick();
    Tick_Motion(); // 0.2 s after arming
    EXPECT_FALSE(tick.State().Rec_Motion);
    clock.ticks = 0xFFFFE000u + 4800;
    Tick_Motion(); // 5.0 s: still in the grace period
    EXPECT_FALSE(tick.State().Rec_Motion);
    Tick_Motion(); // 5.2 s
    EXPECT_TRUE(tick.State().Rec_Motion);

    // Last motion 0.1 s before the wrap; the stop delay runs across it.
    clock.ticks = 0xFFFFFF9Cu - 200;
    Tick_Motion();
    const uint32_t last_motion = clock.ticks;
    Tick_Calm(); // 0.2 s later, after the wrap
    EXPECT_TRUE(tick.State().Rec_Motion);
    clock.ticks = last_motion + 19800;
    Tick_Calm();
    EXPECT_TRUE(tick.State().Rec_Motion);
    Tick_Calm();
    EXPECT_FALSE(tick.State().Rec_Motion);
}

// A delay is compared unsigned, as the tick count is: 2^31 ms or more, which a
// signed 32-bit value holds as negative, still waits that long.
TEST_F(Controller, DelaysOfTwoToTheThirtyOneMillisecondsOrMoreWait) {
    const int32_t about_30_days = static_cast<int32_t>(2'600'000'000u); // 2 600 000 s typed
    const uint32_t one_hour = 3'600'000;
    view.settings.Delay_Start_ms = about_30_days;
    view.settings.Delay_Stop_ms = about_30_days;
    Tick(calm_a);
    tick.BTN_Start_Stop_Rec_DetectClick();
    clock.ticks += one_hour;
    Tick_Motion();
    EXPECT_FALSE(tick.State().Rec_Motion) << "the start delay counted as over";
    clock.ticks += 2'600'000'000u - one_hour;
    Tick_Motion();
    EXPECT_TRUE(tick.State().Rec_Motion);

    clock.ticks += one_hour;
    Tick_Calm();
    EXPECT_TRUE(tick.State().Rec_Motion) << "the stop delay counted as over";
    clock.ticks += 2'600'000'000u - one_hour;
    Tick_Calm();
    EXPECT_FALSE(tick.State().Rec_Motion);
}

TEST_F(Controller, ArmedIndicatorBlinksFromWhateverColourItHad) {
    view.rec_colour = kColour_Red;
    tick.BTN_Start_Stop_Rec_DetectClick();
    std::vector<uint32_t> colours;
    for (int i = 0; i < 4; ++i) {
        Tick(calm_a);
        colours.push_back(view.rec_colour);
    }
    EXPECT_EQ(colours,
              (std::vector<uint32_t>{kColour_Lime, kColour_White, kColour_Lime, kColour_White}));
}

TEST_F(Controller, StoppingEmptiesThePreviewStrip) {
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_a);
    Tick(calm_b);
    EXPECT_FALSE(tick.Previews().At(1).isNull());
    tick.BTN_StopClick();
    Tick(calm_a);
    for (size_t i = 0; i < Preview_Strip::kSize; ++i)
        EXPECT_TRUE(tick.Previews().At(i).isNull());
    EXPECT_EQ(view.rec_colour, kColour_White);
    EXPECT_EQ(view.preview_caption, "No pictures are recording ...");
}

TEST_F(Controller, UnwritableDestinationDropsTheRestOfTheTick) {
    dir.Write("file", "not a folder");
    view.settings.Dest_Folder = dir.File("file") + "/";
    Tick(calm_a);
    const int shown = view.detections_shown;
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_b);
    Tick(calm_a);
    EXPECT_TRUE(files.Snapshot().empty());
    EXPECT_EQ(view.detections_shown, shown) << "no measure after a failed save";
    EXPECT_EQ(view.rec_caption, "Recording stopped");
    EXPECT_EQ(view.file_name, "");
    EXPECT_EQ(tick.State().Num_Image, 2);
    EXPECT_FALSE(tick.Previews().At(1).isNull()) << "the strip shifts before the write";

    view.settings.Dest_Folder = dir.Folder(); // the destination comes back
    Tick(calm_b);
    EXPECT_EQ(files.Snapshot().size(), 1u);
    EXPECT_EQ(view.detections_shown, shown + 1);
}

TEST_F(Controller, UploadWorkerIsWokenOnEveryTickWhileFtpIsOn) {
    Tick(calm_a);
    EXPECT_EQ(wakes, 0);
    view.settings.Use_FTP = true;
    Tick(calm_a);
    Tick(calm_a);
    EXPECT_EQ(wakes, 2);
}

TEST_F(Controller, StampIsDrawnOnTheLiveFrameOnlyWhenAskedFor) {
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_a);
    EXPECT_EQ(view.live, calm_a);
    view.add_time_date = true;
    Tick(calm_a);
    EXPECT_NE(view.live, calm_a);
    // Only what is shown and saved carries it, not what is compared.
    EXPECT_EQ(tick.Live_Frame(), calm_a);
}

TEST_F(Controller, WithTheStampOnAMotionRecordingStillEnds) {
    view.add_time_date = true;
    view.settings.Delay_Start_ms = 0;
    view.settings.Delay_Stop_ms = 1000;
    tick.BTN_Start_Stop_Rec_DetectClick();
    Tick(calm_a);
    for (int i = 0; i < 4; ++i)
        Tick_Motion();
    ASSERT_TRUE(tick.State().Rec_Motion);
    // Calm frames: the stop delay passes and the recording stops; the first
    // frame without a stamp, compared with the last stamped one, must not
    // start the next episode.
    for (int i = 0; i < 20; ++i)
        Tick_Calm();
    EXPECT_FALSE(tick.State().Rec_Motion);
    EXPECT_EQ(tick.State().Num_Folder_D, 1);
    EXPECT_EQ(view.rec_caption, "Waiting for motion detection ...");
}

TEST_F(Controller, ActivationResetStopsRecordingAndRestartsNumbering) {
    tick.State().Num_Folder_D = 7;
    tick.BTN_Start_Stop_RecClick();
    Tick(calm_a);
    tick.Reset_For_Activation();
    const Recording_State& s = tick.State();
    EXPECT_FALSE(s.Rec_Continuous || s.Rec_Armed || s.Rec_Motion);
    EXPECT_EQ(s.Num_Image, 0);
    EXPECT_EQ(s.Num_Folder_D, 7);
    EXPECT_EQ(s.Num_Folder_R, 1);
}

// The keeper of free space must know a new episode before its first picture
// exists, or it could take that picture for an old one.
TEST_F(Controller, A_New_Episode_Folder_Is_Told_Before_Its_First_Picture_Is_Written) {
    struct Told {
        std::string folder;
        bool held_files;
    };
    std::vector<Told> told;
    tick.On_New_Episode_Folder([&](const std::string& folder) {
        told.push_back({folder, std::filesystem::exists(folder) && Count_Files(folder) > 0});
    });
    view.settings.Max_Files = 2;
    tick.BTN_Start_Stop_RecClick();
    for (int k = 0; k < 5; ++k)
        Tick(calm_a);
    const std::string day = dir.Folder() + "RIDEV_2026_12_08/";
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[0].folder, day + "R0001/");
    EXPECT_EQ(told[1].folder, day + "R0002/");
    EXPECT_EQ(told[2].folder, day + "R0003/");
    for (const Told& t : told)
        EXPECT_FALSE(t.held_files) << t.folder << " already held a picture";
    EXPECT_EQ(tick.Last_Episode_Folder(), day + "R0003/");
}

} // namespace
} // namespace vistrel
