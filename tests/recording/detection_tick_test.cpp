// The sampling tick with the Detection dialog's choices: hidden areas, the
// rule against sudden changes of light, and pictures from before the motion.
#include "recording/recording_controller.h"

#include "support/jpeg_reader.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A textured room in mid greys, far from black and white, as a camera sees
// it with its sensor noise: `noise` picks one of several noise patterns of
// +-2 levels.
using Scene = std::function<int(int x, int y)>;

int Room(int x, int y) {
    return 60 + (x * 7 + y * 13 + (x * y) % 17) % 140;
}

QImage Shot(const Scene& scene, int noise) {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const int v = std::clamp(scene(x, y) + (x * 31 + y * 17 + noise * 7) % 5 - 2, 0, 255);
            row[x] = qRgb(v, v, v);
        }
    }
    return img;
}

test::Decoded_Jpeg Read_Picture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return test::Decode_Jpeg(std::string(std::istreambuf_iterator<char>(in), {}));
}

bool Inside(int x, int y, int left, int top, int right, int bottom) {
    return x >= left && x < right && y >= top && y < bottom;
}

// What the camera sees tick after tick: a list of scenes, one per tick.
struct Light_Case {
    const char* name;
    std::vector<Scene> ticks;
    bool records_with_the_rule;
};

std::vector<Scene> Repeat(const Scene& scene, int times) {
    return std::vector<Scene>(static_cast<size_t>(times), scene);
}

std::vector<Scene> Then(std::vector<Scene> first, const std::vector<Scene>& next) {
    first.insert(first.end(), next.begin(), next.end());
    return first;
}

std::vector<Light_Case> Light_Cases() {
    const Scene room = Room;
    // A lamp switched on: the whole picture half as bright again, the
    // highlights clipping at white.
    const Scene lamp = [](int x, int y) { return std::min(Room(x, y) * 3 / 2, 255); };
    // A patch of sun over a tenth of the picture, appearing and staying.
    const Scene sun = [](int x, int y) {
        return Room(x, y) + (Inside(x, y, 100, 60, 196, 140) ? 60 : 0);
    };
    // The hard edge of a shadow over the left of the room, jumping once.
    const auto shadow_to = [](int edge) {
        return Scene([edge](int x, int y) { return x < edge ? Room(x, y) / 2 : Room(x, y); });
    };
    // Somebody crossing the room in a second: a dark shape moving 40 pixels
    // a tick, then gone.
    std::vector<Scene> crossing;
    for (int step = 0; step < 5; ++step)
        crossing.push_back([step](int x, int y) {
            return Inside(x, y, 20 + 40 * step, 60, 100 + 40 * step, 200) ? 30 : Room(x, y);
        });
    return {
        {"lamp step", Then(Repeat(room, 4), Repeat(lamp, 8)), false},
        {"sun patch", Then(Repeat(room, 4), Repeat(sun, 8)), false},
        {"shadow edge jumping once", Then(Repeat(shadow_to(100), 4), Repeat(shadow_to(190), 8)),
         false},
        {"somebody crossing", Then(Then(Repeat(room, 4), crossing), Repeat(room, 8)), true},
    };
}

class Detection_Tick : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    test::Fake_View view;
    test::Fake_Camera camera;
    test::Fake_Clock clock;
    Upload_List files;
    Recording_Controller tick{view, camera, clock, files, nullptr};
    int shots = 0;

    void SetUp() override {
        view.settings = test::Recording_Settings(dir.Folder());
        tick.Set_Stamp_Dpi(96);
    }

    void Tick(const QImage& frame) {
        clock.ticks += 200;
        camera.frames.push_back(frame);
        tick.TMR_Refresh_IMGTimer();
    }
    void Tick_Scene(const Scene& scene) { Tick(Shot(scene, ++shots)); }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const TFichier& f : files.Snapshot())
            names.push_back(f.Folder + f.Name);
        return names;
    }
};

TEST_F(Detection_Tick, SuddenLightChangesOpenNoEpisodeWithTheRuleButMotionStillDoes) {
    for (const bool rule : {false, true})
        for (const Light_Case& c : Light_Cases()) {
            SCOPED_TRACE(std::string(c.name) + (rule ? ", rule on" : ", rule off"));
            test::Temp_Dir folder;
            test::Fake_View v;
            v.settings = test::Recording_Settings(folder.Folder());
            v.settings.Delay_Start_ms = 0;
            test::Fake_Camera cam;
            Upload_List list;
            Recording_Controller t{v, cam, clock, list, nullptr};
            Detection_Settings detection;
            detection.ignore_light = rule;
            t.Set_Detection(detection);
            t.BTN_Start_Stop_Rec_DetectClick();
            double highest = 0;
            for (const Scene& scene : c.ticks) {
                clock.ticks += 200;
                cam.frames.push_back(Shot(scene, ++shots));
                t.TMR_Refresh_IMGTimer();
                highest = std::max(highest, t.Last_Reading().level);
            }
            // Every case is a change the plain measure sees.
            if (!rule) {
                EXPECT_GT(highest, v.settings.Threshold);
            }
            const bool recorded = t.State().Num_Folder_D > 0;
            EXPECT_EQ(recorded, !rule || c.records_with_the_rule);
        }
}

TEST_F(Detection_Tick, WithTheRuleAnEpisodeNeedsTwoTicksInARowOverTheThreshold) {
    view.settings.Delay_Start_ms = 0;
    Detection_Settings detection;
    detection.ignore_light = true;
    tick.Set_Detection(detection);
    tick.BTN_Start_Stop_Rec_DetectClick();
    const auto block_at = [](int left) {
        return Scene([left](int x, int y) {
            return Inside(x, y, left, 80, left + 80, 200) ? 20 : Room(x, y);
        });
    };
    const Scene room = Room;
    // Over the threshold, then under it (the camera's noise alone), each
    // time: no two in a row.
    for (const Scene& scene : {room, block_at(40), block_at(40), room, room, block_at(200)})
        Tick_Scene(scene);
    EXPECT_FALSE(tick.State().Rec_Motion);
    Tick(Shot(block_at(200), 9));
    Tick(Shot(block_at(200), 9)); // the same frame: 0, which is no tick over either
    Tick_Scene(room);
    EXPECT_FALSE(tick.State().Rec_Motion);
    EXPECT_EQ(tick.State().Num_Folder_D, 0u);

    Tick_Scene(block_at(120)); // over, the second in a row
    EXPECT_TRUE(tick.State().Rec_Motion);
    EXPECT_EQ(tick.State().Num_Folder_D, 1u);
}

TEST_F(Detection_Tick, HiddenAreasAreBlackLiveAndInThePictureUnderTheStamp) {
    Detection_Settings detection;
    // The top-left quarter, and the bottom half where the stamp goes.
    detection.areas = {{Area_Kind::Hide, 0, 0, 5000, 5000},
                       {Area_Kind::Hide, 0, 5000, 10000, 5000}};
    tick.Set_Detection(detection);
    view.add_time_date = true;
    tick.BTN_Start_Stop_RecClick();
    Tick(Shot([](int, int) { return 200; }, 0));

    ASSERT_EQ(files.Snapshot().size(), 1u);
    const test::Decoded_Jpeg saved = Read_Picture(files.Snapshot()[0].Path);
    ASSERT_EQ(saved.image.size(), QSize(640, 480));
    const auto brightness = [](const QImage& img, int x, int y) { return qGray(img.pixel(x, y)); };
    EXPECT_LT(brightness(saved.image, 100, 100), 8);
    EXPECT_GT(brightness(saved.image, 500, 100), 190);
    // The bottom half is black but for the stamp drawn over it.
    int white = 0, black = 0;
    for (int y = 250; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            (brightness(saved.image, x, y) > 200 ? white : black) += 1;
    EXPECT_GT(white, 100) << "the stamp is drawn after the area is blacked out";
    EXPECT_GT(black, 640 * 230 * 9 / 10);

    // The live picture shows the same, and the frame the tick kept.
    EXPECT_EQ(qGray(view.live.pixel(10, 10)), 0);
    EXPECT_EQ(qGray(tick.Live_Frame().pixel(10, 10)), 0);
    EXPECT_GT(qGray(tick.Live_Frame().pixel(300, 10)), 190);
}

TEST_F(Detection_Tick, NewChoicesTakeEffectAtTheNextTick) {
    tick.BTN_Start_Stop_RecClick();
    Tick(Shot(Room, 1));
    Detection_Settings detection;
    detection.areas = {{Area_Kind::Hide, 0, 0, 10000, 10000}};
    tick.Set_Detection(detection);
    EXPECT_GT(qGray(tick.Live_Frame().pixel(10, 10)), 0) << "not before the next tick";
    Tick(Shot(Room, 2));
    EXPECT_EQ(qGray(tick.Live_Frame().pixel(10, 10)), 0);
    EXPECT_EQ(qGray(view.live.pixel(319, 239)), 0);
}

TEST_F(Detection_Tick, EachWatchAreaReadsItsOwnLevel) {
    Detection_Settings detection;
    detection.areas = {{Area_Kind::Watch, 0, 0, 5000, 10000},
                       {Area_Kind::Ignore, 0, 0, 10000, 2000},
                       {Area_Kind::Watch, 5000, 0, 5000, 10000}};
    tick.Set_Detection(detection);
    const Scene moving_right = [](int x, int y) {
        return x >= 200 && x < 280 && y >= 80 && y < 200 ? 20 : Room(x, y);
    };
    Tick_Scene(Room);
    Tick_Scene(moving_right);
    const Motion_Reading& reading = tick.Last_Reading();
    ASSERT_EQ(reading.watch_levels.size(), 2u);
    EXPECT_LT(reading.watch_levels[0], 1.0);
    EXPECT_GT(reading.watch_levels[1], 20.0);
    EXPECT_EQ(reading.level, reading.watch_levels[1]);
    EXPECT_EQ(view.gauge, static_cast<int>(reading.level));
}

// The pictures from before the motion: which ticks' frames, under which
// names, in which order.
struct Pre_Capture_Case {
    const char* name;
    int keep;          // Pre_Capture
    int motion_second; // the tick whose frame shows the motion
    std::vector<std::string> expected;
};

TEST_F(Detection_Tick, PicturesFromBeforeTheMotionOpenTheEpisodeInOrder) {
    // Armed at second 0 with a grace delay of 1 s: the ticks of seconds 1 to
    // 5 fall within it (200 ms apart), those from 6 on are past it.
    const std::string d = "RIDEV_2026_12_08/D0001/";
    const std::vector<Pre_Capture_Case> cases = {
        {"three of many",
         3,
         9,
         {d + "I_14_05_07__00001.jpg", d + "I_14_05_08__00002.jpg", d + "I_14_05_09__00003.jpg",
          d + "I_14_05_10__00004.jpg", d + "I_14_05_11__00005.jpg"}},
        {"fewer past the grace delay than asked",
         5,
         7,
         {d + "I_14_05_06__00001.jpg", d + "I_14_05_07__00002.jpg", d + "I_14_05_08__00003.jpg",
          d + "I_14_05_09__00004.jpg"}},
        {"none asked", 0, 9, {d + "I_14_05_10__00001.jpg", d + "I_14_05_11__00002.jpg"}},
    };
    const Scene moving = [](int x, int y) {
        return Inside(x, y, 100, 60, 220, 180) ? 250 - Room(x, y) : Room(x, y);
    };
    for (const Pre_Capture_Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::Temp_Dir folder;
        test::Fake_View v;
        v.settings = test::Recording_Settings(folder.Folder());
        v.settings.Delay_Start_ms = 1000;
        test::Fake_Camera cam;
        Upload_List list;
        Recording_Controller t{v, cam, clock, list, nullptr};
        Detection_Settings detection;
        detection.pre_capture = c.keep;
        t.Set_Detection(detection);
        const auto tick_at = [&](int second, const Scene& scene) {
            clock.now.second = second;
            clock.ticks += 200;
            cam.frames.push_back(Shot(scene, second));
            t.TMR_Refresh_IMGTimer();
        };
        tick_at(0, Room);
        t.BTN_Start_Stop_Rec_DetectClick();
        int second = 1;
        for (; second < c.motion_second; ++second)
            tick_at(second, Room);
        tick_at(second++, moving);
        ASSERT_TRUE(t.State().Rec_Motion);
        EXPECT_TRUE(list.Snapshot().empty());
        tick_at(second++, moving);
        tick_at(second++, Room);

        std::vector<std::string> names;
        for (const TFichier& f : list.Snapshot()) {
            names.push_back(f.Folder + f.Name);
            EXPECT_TRUE(fs::exists(f.Path)) << f.Path;
        }
        EXPECT_EQ(names, c.expected);
        EXPECT_EQ(t.Pre_Capture_Pending(), 0u);
        if (c.keep == 0)
            continue;
        // The tick that went over the threshold is the last of them: its
        // moving block is in the picture, as in none before it.
        const auto centre = [&](size_t i) {
            return qGray(Read_Picture(list.Snapshot()[i].Path).image.pixel(320, 240));
        };
        const int room_centre = Room(160, 120);
        const size_t last_before = static_cast<size_t>(std::min(c.keep, c.motion_second - 5)) - 1;
        EXPECT_NEAR(centre(last_before), 250 - room_centre, 12);
        EXPECT_NEAR(centre(0), room_centre, 12);
    }
}

TEST_F(Detection_Tick, OnlyFramesTakenWhileWaitingAreKept) {
    // Continuous recording keeps none; a second episode gets the frames of
    // the wait after the first, never pictures the first already recorded.
    Detection_Settings detection;
    detection.pre_capture = 5;
    tick.Set_Detection(detection);
    view.settings.Delay_Start_ms = 0;
    view.settings.Delay_Stop_ms = 300;
    tick.BTN_Start_Stop_RecClick();
    Tick_Scene(Room);
    Tick_Scene(Room);
    EXPECT_EQ(files.Snapshot().size(), 2u);
    EXPECT_EQ(tick.Pre_Capture_Bytes(), 0u);

    tick.BTN_Start_Stop_Rec_DetectClick();
    const QImage still = Shot(Room, 0);
    const QImage other = Shot([](int x, int y) { return 255 - Room(x, y); }, 0);
    Tick(still);
    Tick(other); // the first episode opens with these two
    ASSERT_TRUE(tick.State().Rec_Motion);
    Tick(other);
    Tick(other);
    Tick_Scene(Room); // over: motion goes on
    Tick_Scene(Room); // calm, 200 ms after: still on
    Tick_Scene(Room); // calm, 400 ms after: the episode ends with it
    ASSERT_FALSE(tick.State().Rec_Motion);
    Tick_Scene(Room);
    Tick(other); // over: the second episode
    ASSERT_EQ(tick.State().Num_Folder_D, 2u);
    Tick(other);
    std::vector<std::string> second;
    for (const std::string& name : Names())
        if (name.find("/D0002/") != std::string::npos)
            second.push_back(name);
    // Two waiting ticks and its own first picture.
    EXPECT_EQ(second.size(), 3u);
    EXPECT_EQ(Names().size(), 2u + 2u + 5u + 3u);
    EXPECT_EQ(tick.Pre_Capture_Bytes(), 0u);
}

// A clock whose every reading of the tick count is `cost` milliseconds after
// the one before while `charging`: each picture written takes time.
class Slow_Clock : public Clock {
public:
    uint32_t ticks = 1000;
    uint32_t cost = 0;
    Local_Date_Time now = {2026, 12, 8, 14, 5, 9};
    uint32_t Tick_Count() override { return ticks += cost; }
    Local_Date_Time Now() override { return now; }
};

TEST_F(Detection_Tick, WritingManyAtOnceIsSpreadOverTheNextTicksInNameOrder) {
    Slow_Clock slow;
    Recording_Controller t{view, camera, slow, files, nullptr};
    Detection_Settings detection;
    detection.pre_capture = 25;
    t.Set_Detection(detection);
    view.settings.Delay_Start_ms = 0;
    t.BTN_Start_Stop_Rec_DetectClick();
    for (int i = 0; i < 30; ++i) {
        slow.ticks += 200;
        camera.frames.push_back(Shot(Room, i));
        t.TMR_Refresh_IMGTimer();
    }
    slow.ticks += 200;
    camera.frames.push_back(Shot([](int x, int y) { return 255 - Room(x, y); }, 0));
    t.TMR_Refresh_IMGTimer();
    ASSERT_TRUE(t.State().Rec_Motion);

    // From now on each reading of the clock is 10 ms on: a picture costs
    // about 10 ms, so 25 do not fit into one tick of 200 ms.
    slow.cost = 10;
    int ticks = 0;
    do {
        slow.ticks += 200;
        camera.frames.push_back(Shot(Room, ticks));
        t.TMR_Refresh_IMGTimer();
        ++ticks;
        EXPECT_EQ(view.save_problem, "");
    } while (t.Pre_Capture_Pending() > 0 && ticks < 30);
    EXPECT_GT(ticks, 1) << "all written in the first tick";
    EXPECT_EQ(t.Pre_Capture_Pending(), 0u);

    // Written over several ticks, yet numbered before the episode's own
    // pictures, and all in the one folder.
    std::set<int> numbers;
    for (const TFichier& f : files.Snapshot()) {
        EXPECT_EQ(f.Folder, "RIDEV_2026_12_08/D0001/");
        numbers.insert(std::stoi(f.Name.substr(f.Name.size() - 9, 5)));
    }
    const int all = 25 + ticks;
    EXPECT_EQ(numbers.size(), static_cast<size_t>(all));
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), all);
    EXPECT_EQ(view.file_name, "I_14_05_09__000" + std::to_string(all) + ".jpg");
    EXPECT_EQ(files.Snapshot().size(), static_cast<size_t>(all));
}

TEST_F(Detection_Tick, PicturesStillWaitingAreWrittenAtTheClose) {
    // The motion showed in the last tick before the close: its frame and
    // those before it are named into the episode at the close, not lost.
    Detection_Settings detection;
    detection.pre_capture = 3;
    tick.Set_Detection(detection);
    view.settings.Delay_Start_ms = 0;
    tick.BTN_Start_Stop_Rec_DetectClick();
    for (int i = 0; i < 3; ++i)
        Tick_Scene(Room);
    Tick_Scene([](int x, int y) { return 255 - Room(x, y); });
    ASSERT_TRUE(tick.State().Rec_Motion);
    ASSERT_EQ(tick.Pre_Capture_Pending(), 3u);
    tick.Write_Remaining_Pictures();
    EXPECT_EQ(tick.Pre_Capture_Pending(), 0u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"RIDEV_2026_12_08/D0001/I_14_05_09__00001.jpg",
                                                 "RIDEV_2026_12_08/D0001/I_14_05_09__00002.jpg",
                                                 "RIDEV_2026_12_08/D0001/I_14_05_09__00003.jpg"}));
    for (const TFichier& f : files.Snapshot())
        EXPECT_TRUE(fs::exists(f.Path));
}

} // namespace
} // namespace vistrel
