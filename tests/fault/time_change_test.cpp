// Recording while the local time jumps: the machine moved to another time zone,
// or a daylight-saving change. Every picture must be named, filed and stamped
// by the local time of its own tick, and a clock set back must not overwrite
// the pictures of the hour it repeats.
#include "recording/clock.h"
#include "recording/recording_controller.h"
#include "recording/snapshot.h"
#include "support/jpeg_reader.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

// Sets TZ for the test and puts the machine's own setting back afterwards.
class Zone_Override {
public:
    Zone_Override() {
        if (const char* tz = std::getenv("TZ"))
            saved_ = tz;
    }
    ~Zone_Override() {
        if (saved_)
            ::setenv("TZ", saved_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    Zone_Override(const Zone_Override&) = delete;
    Zone_Override& operator=(const Zone_Override&) = delete;

    void Set(const char* zone) { ::setenv("TZ", zone, 1); }

private:
    std::optional<std::string> saved_;
};

// The system clock's local time, at a moment the test chooses.
class Moment_Clock : public Clock {
public:
    uint32_t ticks = 1000;
    std::time_t moment = 0;

    uint32_t Tick_Count() override { return ticks; }
    Local_Date_Time Now() override { return Local_Time_Of(moment); }
};

std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return ::timegm(&t);
}

QImage Frame(int level) {
    QImage img(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const int v = (x * 5 + y * 3 + level) % 256;
            img.setPixel(x, y, qRgb(v, 255 - v, level));
        }
    return img;
}

struct Zoned_Tick {
    const char* zone;
    std::time_t moment;
    const char* relative_path; // below the destination folder
    Local_Date_Time stamp;
};

class Time_Change : public ::testing::Test {
protected:
    Zone_Override zone;
    test::Temp_Dir dir;
    test::Fake_View view;
    test::Fake_Camera camera;
    Moment_Clock clock;
    Upload_List files;
    Recording_Controller tick{view, camera, clock, files, [] {}};

    void SetUp() override {
        view.settings = test::Recording_Settings(dir.Folder());
        view.add_time_date = true;
        tick.Set_Stamp_Dpi(96);
    }

    // Records one picture per entry in continuous mode, each in its own zone
    // at its own moment, and checks each file against the picture stamped by
    // hand with the local time the entry expects.
    void Record_And_Check(const std::vector<Zoned_Tick>& ticks) {
        tick.BTN_Start_Stop_RecClick();
        int32_t number = 0;
        for (const auto& t : ticks) {
            SCOPED_TRACE(std::string(t.zone) + " " + t.relative_path);
            zone.Set(t.zone);
            clock.moment = t.moment;
            clock.ticks += 200;
            const QImage frame = Frame(++number * 20);
            camera.frames.push_back(frame);
            tick.TMR_Refresh_IMGTimer();

            const std::string path = dir.Folder() + t.relative_path;
            ASSERT_TRUE(fs::is_regular_file(path));
            QImage stamped = frame.copy();
            Draw_Time_Stamp(stamped, t.stamp, number, 96);
            const std::string expected = Encode_Jpeg(Stretch_Nearest(stamped, Output_Size(0)));
            EXPECT_TRUE(test::Bytes_Of(path) == expected)
                << "the stamp is not the tick's local time";
        }
        EXPECT_EQ(files.Snapshot().size(), ticks.size());
    }
};

TEST_F(Time_Change, TheMachineMovingToAnotherZoneMovesNamesFoldersAndStamp) {
    const std::time_t noon = Utc(2026, 12, 8, 12, 0, 0);
    Record_And_Check({
        {"UTC", noon, "RIDEV_2026_12_08/R0001/I_12_00_00__00001.jpg", {2026, 12, 8, 12, 0, 0}},
        // Fourteen hours ahead is already tomorrow: a new day folder, and the
        // episode goes on in it under its own number.
        {"Pacific/Kiritimati",
         noon + 1,
         "RIDEV_2026_12_09/R0001/I_02_00_01__00002.jpg",
         {2026, 12, 9, 2, 0, 1}},
        {"America/Los_Angeles",
         noon + 2,
         "RIDEV_2026_12_08/R0001/I_04_00_02__00003.jpg",
         {2026, 12, 8, 4, 0, 2}},
        {"Asia/Kolkata",
         noon + 3,
         "RIDEV_2026_12_08/R0001/I_17_30_03__00004.jpg",
         {2026, 12, 8, 17, 30, 3}},
    });
}

TEST_F(Time_Change, SpringForwardSkipsAnHour) {
    // Berlin: 02:00 CET becomes 03:00 CEST at 01:00 UTC.
    const std::time_t change = Utc(2026, 3, 29, 1, 0, 0);
    Record_And_Check({
        {"Europe/Berlin",
         change - 1,
         "RIDEV_2026_03_29/R0001/I_01_59_59__00001.jpg",
         {2026, 3, 29, 1, 59, 59}},
        {"Europe/Berlin",
         change,
         "RIDEV_2026_03_29/R0001/I_03_00_00__00002.jpg",
         {2026, 3, 29, 3, 0, 0}},
    });
}

TEST_F(Time_Change, FallBackRepeatsAnHourWithoutOverwritingIt) {
    // Berlin: 03:00 CEST becomes 02:00 CET at 01:00 UTC. The same wall-clock
    // second comes twice; the picture number keeps the two files apart.
    const std::time_t change = Utc(2026, 10, 25, 1, 0, 0);
    Record_And_Check({
        {"Europe/Berlin",
         change - 3600,
         "RIDEV_2026_10_25/R0001/I_02_00_00__00001.jpg",
         {2026, 10, 25, 2, 0, 0}},
        {"Europe/Berlin",
         change - 1,
         "RIDEV_2026_10_25/R0001/I_02_59_59__00002.jpg",
         {2026, 10, 25, 2, 59, 59}},
        {"Europe/Berlin",
         change,
         "RIDEV_2026_10_25/R0001/I_02_00_00__00003.jpg",
         {2026, 10, 25, 2, 0, 0}},
    });
    if (HasFatalFailure())
        return;
    // The first picture is still the first one's.
    const auto entries = test::Entries(dir.Folder() + "RIDEV_2026_10_25/R0001/");
    EXPECT_EQ(entries.size(), 3u);
    for (const auto& name : entries)
        EXPECT_TRUE(test::Decodes_Fully(dir.Folder() + "RIDEV_2026_10_25/R0001/" + name)) << name;
}

TEST_F(Time_Change, SystemClockFollowsTheZoneOfTheMomentItIsAsked) {
    // Twenty-six hours apart: whatever the real time is, the dates differ.
    zone.Set("Etc/GMT+12");
    const Local_Date_Time west = System_Clock().Now();
    zone.Set("Etc/GMT-14");
    const Local_Date_Time east = System_Clock().Now();
    const auto midnight = [](const Local_Date_Time& t) {
        std::tm day{};
        day.tm_year = t.year - 1900;
        day.tm_mon = t.month - 1;
        day.tm_mday = t.day;
        return ::timegm(&day);
    };
    const double days = std::difftime(midnight(east), midnight(west)) / 86400;
    EXPECT_GE(days, 1.0);
    EXPECT_LE(days, 2.0);
}

} // namespace
} // namespace vistrel
