// One keeper per destination folder, whatever Vistrel it belongs to, and
// what the keeper tells the user: once, not at every pass.
#include "recording/destination_lock.h"
#include "recording/keeping_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Keeping;

// Polls until `done`; false after ten seconds.
bool Eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// One pass at a time, on request: between two, the keeper waits for an
// update, so that the test may change the disk meanwhile.
struct Running_Keeper {
    Running_Keeper(const Keeper_Hooks& hooks, const Keeper_Inputs& inputs)
        : inputs(inputs), keeper(hooks, 1ms) {}
    Keep_Free_Outcome Next_Pass() {
        const uint64_t before = keeper.Passes();
        keeper.Update(inputs);
        EXPECT_TRUE(Eventually([&] { return keeper.Passes() > before; }));
        return keeper.Last_Outcome();
    }
    Keeper_Inputs inputs;
    Storage_Keeper keeper;
};

TEST(Destination_Lock, Is_Held_By_One_Opening_At_A_Time_Whatever_Path_Names_The_Folder) {
    test::Temp_Dir dir;
    const std::string dest = dir.Folder() + "cam/";
    fs::create_directories(dest);
    fs::create_directory_symlink(dest, dir.Path() / "via");
    std::optional<Destination_Lock> first(std::in_place, dest);
    ASSERT_TRUE(first->Held()) << first->Reason();
    // The lock is a hidden file of the destination folder itself, beside the
    // day folders, in no folder whose files are counted.
    EXPECT_TRUE(fs::is_regular_file(dest + Destination_Lock::kFile_Name));
    EXPECT_FALSE(Is_Day_Folder_Name(Destination_Lock::kFile_Name));
    EXPECT_FALSE(Is_Episode_Folder_Name(Destination_Lock::kFile_Name));
    EXPECT_FALSE(Is_Picture_Name(Destination_Lock::kFile_Name));
    {
        // The same process, the same folder: still refused.
        const Destination_Lock second(dest);
        EXPECT_EQ(second.State(), Destination_Lock::Result::Held_Elsewhere);
        const Destination_Lock through_link(dir.Folder() + "via");
        EXPECT_EQ(through_link.State(), Destination_Lock::Result::Held_Elsewhere);
    }
    first.reset();
    EXPECT_TRUE(Destination_Lock(dir.Folder() + "via").Held());

    const Destination_Lock missing(dir.Folder() + "nowhere/");
    EXPECT_EQ(missing.State(), Destination_Lock::Result::Failed);
    EXPECT_NE(missing.Reason().find("No such file"), std::string::npos) << missing.Reason();
}

// flock(1) holds the lock from another process until its input ends.
TEST(Destination_Lock, Is_Refused_While_Another_Process_Holds_It) {
    if (::access("/usr/bin/flock", X_OK) != 0)
        GTEST_SKIP() << "flock(1) is not installed";
    test::Temp_Dir dir;
    const std::string lock_file = dir.Folder() + Destination_Lock::kFile_Name;
    int to_child[2], from_child[2];
    ASSERT_EQ(::pipe(to_child), 0);
    ASSERT_EQ(::pipe(from_child), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(to_child[0], 0);
        ::dup2(from_child[1], 1);
        ::close(to_child[1]);
        ::close(from_child[0]);
        ::execl("/usr/bin/flock", "flock", "-o", lock_file.c_str(), "sh", "-c", "echo held; cat",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    char said[5] = {};
    ASSERT_EQ(::read(from_child[0], said, 4), 4);
    EXPECT_EQ(std::string(said), "held");
    EXPECT_EQ(Destination_Lock(dir.Folder()).State(), Destination_Lock::Result::Held_Elsewhere);
    ::close(to_child[1]); // cat ends, and flock with it
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(from_child[0]);
    EXPECT_TRUE(Destination_Lock(dir.Folder()).Held());
}

TEST_F(Keeping, A_Second_Keeper_On_The_Same_Folder_Deletes_Nothing_Until_The_First_Stops) {
    Put_Episode("RIDEV_2026_12_01/D0001", 20);
    capacity = 25 * unit;
    inputs.keep_free_bytes = 10 * unit * 20 / 21;
    std::optional<Running_Keeper> first(std::in_place, hooks, inputs);
    EXPECT_EQ(first->Next_Pass().state, Keeper_State::Room);
    ASSERT_EQ(Pictures_Left(), 15u);

    Put_Episode("RIDEV_2026_12_02/D0001", 5);
    // Another Vistrel, another data folder, the destination named otherwise.
    fs::create_directory_symlink(dest, dir.Path() / "via");
    Keeper_Inputs elsewhere = inputs;
    elsewhere.dest_folder = dir.Folder() + "via/";
    Running_Keeper second(hooks, elsewhere);
    const Keep_Free_Outcome refused = second.Next_Pass();
    EXPECT_EQ(refused.state, Keeper_State::Other_Keeper);
    EXPECT_EQ(refused.files_deleted, 0u);
    EXPECT_EQ(Keeper_Status_Text(refused), "Another Vistrel keeps free space in " +
                                               elsewhere.dest_folder +
                                               "; this one deletes nothing.");
    EXPECT_EQ(second.keeper.Take_Notice(), Keeper_Status_Text(refused));
    second.Next_Pass();
    EXPECT_EQ(second.keeper.Take_Notice(), std::nullopt) << "told again";
    EXPECT_EQ(Pictures_Left(), 20u);

    // The first turned off: the second takes over.
    first->inputs.keep_free_bytes = 0;
    EXPECT_EQ(first->Next_Pass().state, Keeper_State::Off);
    EXPECT_EQ(second.Next_Pass().state, Keeper_State::Room);
    EXPECT_EQ(Pictures_Left(), 15u);
    EXPECT_EQ(first->Next_Pass().state, Keeper_State::Off);
    first->inputs.keep_free_bytes = inputs.keep_free_bytes;
    EXPECT_EQ(first->Next_Pass().state, Keeper_State::Other_Keeper);
    first.reset();
}

TEST_F(Keeping, A_Keeper_Locks_No_Folder_Where_It_Has_Nothing_To_Delete) {
    capacity = 10 * unit;
    inputs.keep_free_bytes = 4 * unit;
    inputs.dest_folder = dir.Folder() + "not yet/";
    Running_Keeper keeper(hooks, inputs);
    // Not made yet: nothing to say either.
    EXPECT_EQ(keeper.Next_Pass().state, Keeper_State::Unknown);
    EXPECT_EQ(keeper.keeper.Take_Notice(), std::nullopt);
    EXPECT_FALSE(fs::exists(dir.Folder() + "not yet"));
    // A folder of the user's, maybe on the way to the one being typed.
    keeper.inputs.dest_folder = dir.Folder();
    Put("../notes.txt");
    EXPECT_EQ(keeper.Next_Pass().state, Keeper_State::Room);
    EXPECT_FALSE(fs::exists(dir.Folder() + Destination_Lock::kFile_Name));
    keeper.inputs.dest_folder = dest;
    Put("RIDEV_2026_12_01/D0001/I_10_00_00__00001.jpg");
    EXPECT_EQ(keeper.Next_Pass().state, Keeper_State::Room);
    EXPECT_TRUE(fs::exists(dest + Destination_Lock::kFile_Name));
    EXPECT_FALSE(Destination_Lock(dest).Held());
}

TEST_F(Keeping, A_Keeper_That_Cannot_Make_Its_Lock_Deletes_Nothing_And_Says_Why) {
    Put_Episode("RIDEV_2026_12_01/D0001", 10);
    // Something else by the lock's name: a folder, which cannot be locked.
    fs::create_directories(dest + Destination_Lock::kFile_Name);
    capacity = 10 * unit;
    inputs.keep_free_bytes = 4 * unit;
    Running_Keeper keeper(hooks, inputs);
    const Keep_Free_Outcome outcome = keeper.Next_Pass();
    EXPECT_EQ(outcome.state, Keeper_State::No_Lock);
    EXPECT_EQ(Pictures_Left(), 10u);
    EXPECT_EQ(Keeper_Status_Text(outcome),
              "Free space cannot be kept in " + dest +
                  " (its lock file cannot be made: Is a directory); Vistrel deletes nothing.");
    EXPECT_EQ(keeper.keeper.Take_Notice(), Keeper_Status_Text(outcome));
}

TEST_F(Keeping, The_Keeper_Tells_Of_A_Problem_Once_And_Again_Only_After_It_Went_Away) {
    Put_Episode("RIDEV_2026_12_01/D0001", 10);
    for (int i = 0; i < 10; ++i)
        queued.insert(dest + "RIDEV_2026_12_01/D0001/I_10_00_00__" + std::to_string(10000 + i) +
                      ".jpg");
    capacity = 12 * unit;
    inputs.keep_free_bytes = 4 * unit;
    Running_Keeper running(hooks, inputs);
    struct Step {
        const char* what;
        std::function<void()> change;
        Keeper_State state;
        bool told;
    };
    const Step steps[] = {
        {"all pictures queued", [] {}, Keeper_State::Short, true},
        {"still so", [] {}, Keeper_State::Short, false},
        {"room again", [&] { capacity = 20 * unit; }, Keeper_State::Room, false},
        {"short again", [&] { capacity = 12 * unit; }, Keeper_State::Short, true},
        {"a target above half the disk", [&] { running.inputs.keep_free_bytes = 25 * unit; },
         Keeper_State::Target_Too_Big, true},
        {"still so", [] {}, Keeper_State::Target_Too_Big, false},
        {"off", [&] { running.inputs.keep_free_bytes = 0; }, Keeper_State::Off, false},
        {"a fitting one, still short", [&] { running.inputs.keep_free_bytes = 4 * unit; },
         Keeper_State::Short, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        const Keep_Free_Outcome outcome = running.Next_Pass();
        EXPECT_EQ(outcome.state, step.state);
        EXPECT_EQ(running.keeper.Status_Text(), Keeper_Status_Text(outcome));
        const std::optional<std::string> notice = running.keeper.Take_Notice();
        EXPECT_EQ(notice.has_value(), step.told);
        if (notice) {
            EXPECT_EQ(*notice, Keeper_Status_Text(outcome));
        }
    }
    EXPECT_EQ(Pictures_Left(), 10u);
}

} // namespace
} // namespace vistrel
