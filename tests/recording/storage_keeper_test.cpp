#include "recording/storage_keeper.h"

#include "recording/keeping_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::Keeping;

TEST(Storage_Names, Only_The_Programs_Own_Forms_Are_Recognised) {
    struct Case {
        const char* name;
        bool day, episode, picture, temporary;
    };
    const Case cases[] = {
        {"RIDEV_2024_03_07", true, false, false, false},
        {"RIDEV_2024_3_07", false, false, false, false},
        {"RIDEV_2024_03_07x", false, false, false, false},
        {"ridev_2024_03_07", false, false, false, false},
        {"D0003", false, true, false, false},
        {"R12345", false, true, false, false},
        {"D003", false, false, false, false},
        {"d0003", false, false, false, false},
        {"D00x3", false, false, false, false},
        {"I_14_05_09__00012.jpg", false, false, true, false},
        {"I_14_05_09__123456.jpg", false, false, true, false},
        {"I_14_05_09__0012.jpg", false, false, false, false},
        {"I_14_05_09__00012.jpeg", false, false, false, false},
        {"I_14_5_09__00012.jpg", false, false, false, false},
        {"Img_.jpg", false, false, false, false},
        {"I_14_05_09__00012.jpg.vistrel-tmp-a1B2c3", false, false, false, true},
        {"I_14_05_09__00012.jpg.vistrel-tmp-a1B2", false, false, false, false},
        {"notes.txt.vistrel-tmp-a1B2c3", false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Is_Day_Folder_Name(c.name), c.day);
        EXPECT_EQ(Is_Episode_Folder_Name(c.name), c.episode);
        EXPECT_EQ(Is_Picture_Name(c.name), c.picture);
        EXPECT_EQ(Is_Picture_Temporary_Name(c.name), c.temporary);
    }
}

TEST_F(Keeping, The_Oldest_Day_Then_The_Oldest_Episode_Go_First_Picture_By_Picture) {
    // Day 1: a continuous episode in the morning, a motion episode at noon.
    // The numbers do not tell the order: R and D count apart.
    Put("RIDEV_2026_12_01/D0001/I_12_00_00__00005.jpg");
    Put("RIDEV_2026_12_01/D0001/I_12_00_01__00006.jpg");
    Put("RIDEV_2026_12_01/R0007/I_09_00_00__00001.jpg");
    Put("RIDEV_2026_12_01/R0007/I_09_00_01__00002.jpg");
    Put("RIDEV_2026_12_01/R0007/I_09_00_01__00003.jpg");
    Put("RIDEV_2026_12_02/D0001/I_08_00_00__00001.jpg");
    Put("RIDEV_2025_12_31/D0099/I_23_59_59__00001.jpg"); // last year: the oldest of all
    // Just under three pictures, so that what a pass frees beyond the target
    // stays within the third.
    inputs.keep_free_bytes = 3 * unit * 20 / 21;

    struct Step {
        uint64_t capacity; // in pictures
        std::set<std::string> left;
    };
    const Step steps[] = {
        // Seven pictures on a disk for ten: room enough.
        {10,
         {"RIDEV_2025_12_31/", "RIDEV_2025_12_31/D0099/",
          "RIDEV_2025_12_31/D0099/I_23_59_59__00001.jpg", "RIDEV_2026_12_01/",
          "RIDEV_2026_12_01/D0001/", "RIDEV_2026_12_01/D0001/I_12_00_00__00005.jpg",
          "RIDEV_2026_12_01/D0001/I_12_00_01__00006.jpg", "RIDEV_2026_12_01/R0007/",
          "RIDEV_2026_12_01/R0007/I_09_00_00__00001.jpg",
          "RIDEV_2026_12_01/R0007/I_09_00_01__00002.jpg",
          "RIDEV_2026_12_01/R0007/I_09_00_01__00003.jpg", "RIDEV_2026_12_02/",
          "RIDEV_2026_12_02/D0001/", "RIDEV_2026_12_02/D0001/I_08_00_00__00001.jpg"}},
        // A disk for nine: one goes, last year's, and its folders with it.
        {9,
         {"RIDEV_2026_12_01/", "RIDEV_2026_12_01/D0001/",
          "RIDEV_2026_12_01/D0001/I_12_00_00__00005.jpg",
          "RIDEV_2026_12_01/D0001/I_12_00_01__00006.jpg", "RIDEV_2026_12_01/R0007/",
          "RIDEV_2026_12_01/R0007/I_09_00_00__00001.jpg",
          "RIDEV_2026_12_01/R0007/I_09_00_01__00002.jpg",
          "RIDEV_2026_12_01/R0007/I_09_00_01__00003.jpg", "RIDEV_2026_12_02/",
          "RIDEV_2026_12_02/D0001/", "RIDEV_2026_12_02/D0001/I_08_00_00__00001.jpg"}},
        // A disk for six: the morning episode goes whole.
        {6,
         {"RIDEV_2026_12_01/", "RIDEV_2026_12_01/D0001/",
          "RIDEV_2026_12_01/D0001/I_12_00_00__00005.jpg",
          "RIDEV_2026_12_01/D0001/I_12_00_01__00006.jpg", "RIDEV_2026_12_02/",
          "RIDEV_2026_12_02/D0001/", "RIDEV_2026_12_02/D0001/I_08_00_00__00001.jpg"}},
        // A disk for five: noon's first picture.
        {5,
         {"RIDEV_2026_12_01/", "RIDEV_2026_12_01/D0001/",
          "RIDEV_2026_12_01/D0001/I_12_00_01__00006.jpg", "RIDEV_2026_12_02/",
          "RIDEV_2026_12_02/D0001/", "RIDEV_2026_12_02/D0001/I_08_00_00__00001.jpg"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.capacity);
        capacity = step.capacity * unit;
        const Keep_Free_Outcome outcome = Pass();
        EXPECT_TRUE(outcome.enough_room);
        EXPECT_EQ(Left(), step.left);
    }
}

// With more to keep free than the disk holds, everything that may go goes:
// what is left is exactly what must never be deleted.
TEST_F(Keeping, Never_Deletes_What_It_Must_Keep) {
    struct Case {
        const char* what;
        std::function<void(Keeping&)> arrange;
        std::set<std::string> left;
    };
    const std::string old_day = "RIDEV_2026_12_01/";
    const Case cases[] = {
        {"nothing to keep", [](Keeping&) {}, {}},
        {"a file of the user's beside the pictures, and its folders",
         [&](Keeping& k) { k.Put(old_day + "D0001/my notes.txt", 10); },
         {old_day, old_day + "D0001/", old_day + "D0001/my notes.txt"}},
        {"files and folders not named as the program names its own",
         [&](Keeping& k) {
             k.Put(old_day + "D0001/I_10_00_00__00001.jpeg", 10);
             k.Put(old_day + "d0002/I_10_00_00__00001.jpg", 10);
             k.Put(old_day + "I_10_00_00__00001.jpg", 10);
             k.Put("RIDEV_2026_12_1/D0001/I_10_00_00__00001.jpg", 10);
             k.Put("I_10_00_00__00001.jpg", 10);
         },
         {old_day, old_day + "D0001/", old_day + "D0001/I_10_00_00__00001.jpeg", old_day + "d0002/",
          old_day + "d0002/I_10_00_00__00001.jpg", old_day + "I_10_00_00__00001.jpg",
          "RIDEV_2026_12_1/", "RIDEV_2026_12_1/D0001/",
          "RIDEV_2026_12_1/D0001/I_10_00_00__00001.jpg", "I_10_00_00__00001.jpg"}},
        {"the episode being recorded",
         [&](Keeping& k) { k.inputs.current_episode = k.dest + old_day + "R0002/"; },
         {old_day, old_day + "R0002/", old_day + "R0002/I_11_00_00__00003.jpg"}},
        {"the episode being recorded, named without the final slash or through ..",
         [&](Keeping& k) { k.inputs.current_episode = k.dest + "x/../" + old_day + "R0002"; },
         {old_day, old_day + "R0002/", old_day + "R0002/I_11_00_00__00003.jpg"}},
        {"pictures still queued, whether uploading is on or off",
         [&](Keeping& k) { k.queued.insert(k.dest + old_day + "D0001/I_10_00_01__00002.jpg"); },
         {old_day, old_day + "D0001/", old_day + "D0001/I_10_00_01__00002.jpg"}},
        {"a queued picture named through a link to the destination",
         [&](Keeping& k) {
             fs::create_directory_symlink(k.dest, k.dir.Path() / "via");
             k.queued.insert(k.dir.Folder() + "via/" + old_day + "D0001/I_10_00_01__00002.jpg");
         },
         {old_day, old_day + "D0001/", old_day + "D0001/I_10_00_01__00002.jpg"}},
        {"the episode being recorded, named through a link to the destination",
         [&](Keeping& k) {
             fs::create_directory_symlink(k.dest, k.dir.Path() / "via");
             k.inputs.current_episode = k.dir.Folder() + "via/" + old_day + "R0002/";
         },
         {old_day, old_day + "R0002/", old_day + "R0002/I_11_00_00__00003.jpg"}},
        {"the episode being recorded, named through a link to its day folder",
         [&](Keeping& k) {
             fs::create_directory_symlink(k.dest + old_day, k.dir.Path() / "today");
             k.inputs.current_episode = k.dir.Folder() + "today/R0002";
         },
         {old_day, old_day + "R0002/", old_day + "R0002/I_11_00_00__00003.jpg"}},
        {"the day folder of an episode not begun yet, though it looks empty",
         [&](Keeping& k) {
             fs::create_directories(k.dest + "RIDEV_2026_12_02");
             k.inputs.current_episode = k.dest + "RIDEV_2026_12_02/D0004/";
         },
         {"RIDEV_2026_12_02/"}},
        {"the same, named through a link to the destination",
         [&](Keeping& k) {
             fs::create_directories(k.dest + "RIDEV_2026_12_02");
             fs::create_directory_symlink(k.dest, k.dir.Path() / "via");
             k.inputs.current_episode = k.dir.Folder() + "via/RIDEV_2026_12_02/D0004/";
         },
         {"RIDEV_2026_12_02/"}},
        {"the empty day folder of the episode being recorded, once its pictures went",
         [&](Keeping& k) {
             k.inputs.current_episode = k.dest + old_day + "D0007/";
             fs::create_directories(k.inputs.current_episode);
         },
         {old_day, old_day + "D0007/"}},
        {"a picture of the episode being recorded hard-linked into an old one",
         [&](Keeping& k) {
             k.inputs.current_episode = k.dest + old_day + "R0002/";
             fs::create_hard_link(k.dest + old_day + "R0002/I_11_00_00__00003.jpg",
                                  k.dest + old_day + "D0001/I_09_00_00__00000.jpg");
         },
         {old_day, old_day + "R0002/", old_day + "R0002/I_11_00_00__00003.jpg"}},
        {"the fixed-name picture, wherever its name puts it",
         [&](Keeping& k) {
             k.inputs.fixed_picture = k.dest + old_day + "D0001/I_10_00_00__00001.jpg";
         },
         {old_day, old_day + "D0001/", old_day + "D0001/I_10_00_00__00001.jpg"}},
        {"a temporary a write may still be filling",
         [&](Keeping& k) { k.Put(old_day + "D0001/I_10_00_02__00009.jpg.vistrel-tmp-abcdef", 10); },
         {old_day, old_day + "D0001/", old_day + "D0001/I_10_00_02__00009.jpg.vistrel-tmp-abcdef"}},
        {"but not one a crash left behind long ago",
         [&](Keeping& k) {
             const std::string stale =
                 k.Put(old_day + "D0001/I_10_00_02__00009.jpg.vistrel-tmp-abcdef", 10);
             fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(1));
         },
         {}},
        {"pictures reached through a link to another folder",
         [&](Keeping& k) {
             k.Put("../elsewhere/D0001/I_10_00_00__00001.jpg", 10);
             fs::create_directory_symlink(k.dir.Path() / "elsewhere", k.dest + "RIDEV_2026_11_30");
         },
         {"RIDEV_2026_11_30"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dest);
        fs::remove_all(dir.Path() / "elsewhere");
        fs::remove(dir.Path() / "via");
        fs::remove(dir.Path() / "today");
        inputs = {};
        inputs.dest_folder = dest;
        queued.clear();
        Put(old_day + "D0001/I_10_00_00__00001.jpg");
        Put(old_day + "D0001/I_10_00_01__00002.jpg");
        Put(old_day + "R0002/I_11_00_00__00003.jpg");
        c.arrange(*this);
        capacity = 100 * unit;
        inputs.keep_free_bytes = capacity + 1;
        const Keep_Free_Outcome outcome = Pass();
        EXPECT_FALSE(outcome.enough_room);
        EXPECT_EQ(Left(), c.left);
        // Nothing is deleted through a link.
        if (fs::exists(dir.Path() / "elsewhere")) {
            EXPECT_TRUE(fs::exists(dir.Path() / "elsewhere/D0001/I_10_00_00__00001.jpg"));
        }
    }
}

TEST_F(Keeping, Deletes_Nothing_When_Off_Or_When_The_Free_Space_Is_Unknown) {
    Put("RIDEV_2026_12_01/D0001/I_10_00_00__00001.jpg");
    capacity = unit;
    inputs.keep_free_bytes = 0;
    EXPECT_EQ(Pass().files_deleted, 0u);
    inputs.keep_free_bytes = 10 * unit;
    hooks.measure = [](const std::string&) { return std::optional<Disk_Space>(); };
    EXPECT_EQ(Pass().files_deleted, 0u);
    EXPECT_EQ(Left().size(), 3u);
}

TEST_F(Keeping, A_Pass_Stops_Between_Two_Deletions_When_The_Program_Closes) {
    for (int i = 0; i < 50; ++i)
        Put("RIDEV_2026_12_01/D0001/I_10_00_00__" + std::to_string(10000 + i) + ".jpg");
    capacity = 10 * unit;
    inputs.keep_free_bytes = capacity;
    int asked = 0;
    hooks.stopping = [&] { return ++asked > 5; };
    const Keep_Free_Outcome outcome = Pass();
    EXPECT_GT(outcome.files_deleted, 0u);
    EXPECT_LT(outcome.files_deleted, 10u);
}

TEST_F(Keeping, The_Keeper_Runs_A_Pass_Off_The_Callers_Thread_And_Stops_Promptly) {
    for (int i = 0; i < 20; ++i)
        Put("RIDEV_2026_12_01/D0001/I_10_00_00__" + std::to_string(10000 + i) + ".jpg");
    capacity = 25 * unit;
    inputs.keep_free_bytes = 10 * unit * 20 / 21;
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id pass_thread;
    auto measure = hooks.measure;
    hooks.measure = [&, measure](const std::string& f) {
        pass_thread = std::this_thread::get_id();
        return measure(f);
    };
    {
        Storage_Keeper keeper(hooks, std::chrono::hours(1));
        keeper.Update(inputs);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (keeper.Passes() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        ASSERT_EQ(keeper.Passes(), 1u);
        EXPECT_EQ(keeper.Last_Outcome().files_deleted, 5u);
        EXPECT_NE(pass_thread, caller);
        // The next pass waits for the interval; the keeper must still go at once.
        capacity = 12 * unit;
        keeper.Update(inputs);
    }
    EXPECT_EQ(Used(), 15 * unit) << "a second pass ran before its time";
}

// Where freed space shows only later (btrfs, ZFS commit seconds after), the
// pass counts what it deleted instead of deleting everything.
TEST_F(Keeping, Counts_What_It_Deleted_Where_The_Free_Space_Shows_It_Late) {
    for (int i = 0; i < 20; ++i)
        Put("RIDEV_2026_12_01/D0001/I_10_00_00__" + std::to_string(10000 + i) + ".jpg");
    struct stat one {};
    ASSERT_EQ(::stat((dest + "RIDEV_2026_12_01/D0001/I_10_00_00__10000.jpg").c_str(), &one), 0);
    const uint64_t takes = static_cast<uint64_t>(one.st_blocks) * 512;
    ASSERT_GT(takes, 0u);
    hooks.measure = [](const std::string&) { return Disk_Space{1000, 1000000000}; };
    // Just under three pictures more than is free, what a pass frees beyond
    // the target included.
    inputs.keep_free_bytes = (1000 + 3 * takes) * 20 / 21;
    const Keep_Free_Outcome outcome = Pass();
    EXPECT_EQ(outcome.files_deleted, 3u);
    EXPECT_TRUE(outcome.enough_room);
}

TEST_F(Keeping, Closing_Stops_A_Long_Pass_At_Once) {
    for (int i = 0; i < 200; ++i)
        Put("RIDEV_2026_12_01/D" + std::to_string(1000 + i) + "/I_10_00_00__00001.jpg");
    capacity = 200 * unit;
    inputs.keep_free_bytes = capacity; // everything would have to go
    std::atomic<bool> started{false};
    hooks.queued_pictures = [&] {
        started = true;
        std::this_thread::sleep_for(20ms); // a long queue: the pass would take seconds
        return std::unordered_set<std::string>();
    };
    std::optional<Storage_Keeper> keeper;
    keeper.emplace(hooks, 1h);
    keeper->Update(inputs);
    while (!started)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(100ms);
    const auto closed_at = std::chrono::steady_clock::now();
    keeper.reset();
    const auto closing = std::chrono::steady_clock::now() - closed_at;
    // The window must close within two seconds whatever the keeper does.
    EXPECT_LT(closing, 1s);
    EXPECT_GT(Used(), 100 * unit) << "the pass went on after the close";
}

} // namespace
} // namespace vistrel
