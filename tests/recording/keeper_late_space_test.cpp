// The keeper on disks that show freed space late or never, and with targets
// the disk cannot reach.
#include "recording/keeping_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Keeping;

// Forty pictures in four episodes on a disk with room for fifty, and a
// target of just under fifteen (what a pass frees beyond it included): one
// shortfall is five pictures.
class Late_Space : public Keeping {
protected:
    void SetUp() override {
        Keeping::SetUp();
        for (int e = 1; e <= 4; ++e)
            Put_Episode("RIDEV_2026_12_01/D000" + std::to_string(e), 10, 10000 + e * 100);
        capacity = 50 * unit;
        inputs.keep_free_bytes = 15 * unit * 20 / 21;
        Commit();
    }
    Free_Space_Ledger ledger;
};

TEST_F(Late_Space, A_Shortfall_Is_Deleted_Once_While_The_Freed_Space_Shows_Late) {
    frees = Frees::Never; // until the commit below, thirty seconds on
    Keep_Free_Outcome outcome = Pass(ledger);
    EXPECT_EQ(outcome.files_deleted, 5u);
    EXPECT_EQ(outcome.state, Keeper_State::Room);
    EXPECT_EQ(outcome.outstanding_bytes, 5 * unit);
    EXPECT_GE(syncs, 1u) << "measured without asking the file system to commit";
    for (int second = 5; second < 30; second += 5) {
        SCOPED_TRACE(second);
        clock += 5s;
        outcome = Pass(ledger);
        EXPECT_EQ(outcome.files_deleted, 0u) << "the same shortfall was deleted again";
        EXPECT_EQ(outcome.state, Keeper_State::Room);
        EXPECT_NE(Keeper_Status_Text(outcome).find("should show soon"), std::string::npos);
    }
    clock += 5s;
    Commit();
    outcome = Pass(ledger);
    EXPECT_EQ(outcome.files_deleted, 0u);
    EXPECT_EQ(outcome.outstanding_bytes, 0u);
    EXPECT_EQ(Pictures_Left(), 35u);

    // Settled: a new shortfall is deleted as before.
    Put_Episode("RIDEV_2026_12_02/D0001", 5);
    clock += 5s;
    outcome = Pass(ledger);
    EXPECT_EQ(outcome.files_deleted, 5u);
}

TEST_F(Late_Space, Where_A_Sync_Shows_The_Space_Nothing_Is_Carried) {
    frees = Frees::At_Sync;
    Keep_Free_Outcome outcome = Pass(ledger);
    EXPECT_EQ(outcome.files_deleted, 5u);
    EXPECT_EQ(outcome.outstanding_bytes, 0u);
    EXPECT_EQ(outcome.free_bytes, 15 * unit);
    // Recording goes on: the next shortfall is deleted at once.
    Put_Episode("RIDEV_2026_12_02/D0001", 5);
    clock += 5s;
    EXPECT_EQ(Pass(ledger).files_deleted, 5u);
    EXPECT_EQ(Pictures_Left(), 35u);
}

TEST_F(Late_Space, Space_Freed_By_Someone_Else_Shows_After_A_Sync_And_Nothing_Goes) {
    frees = Frees::At_Sync;
    for (int i = 0; i < 5; ++i)
        fs::remove(dest + "RIDEV_2026_12_01/D0004/I_10_00_00__" + std::to_string(10400 + i) +
                   ".jpg");
    const Keep_Free_Outcome outcome = Pass(ledger);
    EXPECT_EQ(outcome.files_deleted, 0u);
    EXPECT_EQ(outcome.state, Keeper_State::Room);
    EXPECT_EQ(Pictures_Left(), 35u);
}

TEST_F(Late_Space, The_File_Systems_Own_Sync_Serves_When_None_Is_Given) {
    hooks.sync = {};
    const Keep_Free_Outcome outcome = Pass(ledger);
    EXPECT_EQ(outcome.state, Keeper_State::Room);
    EXPECT_EQ(outcome.files_deleted, 5u);
    EXPECT_EQ(syncs, 0u);
}

TEST_F(Late_Space, Deletions_That_Never_Show_Stop_The_Deleting_After_A_Minute) {
    frees = Frees::Never; // a snapshot holds every picture
    EXPECT_EQ(Pass(ledger).files_deleted, 5u);
    for (int second = 5; second < 60; second += 5) {
        clock += 5s;
        EXPECT_EQ(Pass(ledger).files_deleted, 0u) << second;
    }
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        clock += 5s;
        const Keep_Free_Outcome outcome = Pass(ledger);
        EXPECT_EQ(outcome.files_deleted, 0u);
        EXPECT_EQ(outcome.state, Keeper_State::Not_Showing);
        EXPECT_FALSE(outcome.enough_room);
        EXPECT_TRUE(Worth_A_Notice(outcome.state));
        EXPECT_NE(Keeper_Status_Text(outcome).find("have still not given back their space"),
                  std::string::npos);
    }
    EXPECT_EQ(Pictures_Left(), 35u);

    // The snapshot is dropped: the space shows, and keeping goes on.
    Commit();
    clock += 5s;
    EXPECT_EQ(Pass(ledger).state, Keeper_State::Room);
    Put_Episode("RIDEV_2026_12_02/D0001", 5);
    Commit();
    clock += 5s;
    EXPECT_EQ(Pass(ledger).files_deleted, 5u);
}

TEST_F(Keeping, A_Target_Above_Half_The_Disk_Deletes_Nothing_And_Says_Why) {
    Put_Episode("RIDEV_2026_12_01/D0001", 10);
    capacity = 10 * unit;
    disk_size = 10 * unit;
    struct Case {
        const char* what;
        uint64_t keep;
        Keeper_State state;
        size_t deleted;
    };
    const Case cases[] = {
        {"half the disk", 5 * unit, Keeper_State::Room, 5},
        {"a byte more than half", 5 * unit + 1, Keeper_State::Target_Too_Big, 0},
        {"the whole disk", 10 * unit, Keeper_State::Target_Too_Big, 0},
        {"far more than the disk", 1000000000000000ull, Keeper_State::Target_Too_Big, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dest);
        Put_Episode("RIDEV_2026_12_01/D0001", 10);
        inputs.keep_free_bytes = c.keep;
        const Keep_Free_Outcome outcome = Pass();
        EXPECT_EQ(outcome.state, c.state);
        // The little extra beyond the target may take one more.
        EXPECT_GE(outcome.files_deleted, c.deleted);
        EXPECT_LE(outcome.files_deleted, c.deleted + (c.deleted > 0 ? 1 : 0));
        EXPECT_EQ(outcome.disk_bytes, 10 * unit);
    }
    inputs.keep_free_bytes = 2000000000;
    disk_size = 3000000000;
    const std::string said = Keeper_Status_Text(Pass());
    EXPECT_EQ(said, "Keeping 2.0 GB free is more than half of the disk of " + dest +
                        " (3.0 GB in all), so Vistrel deletes nothing. Choose at most 1.5 GB.");
}

TEST_F(Keeping, A_Pass_That_Cannot_Reach_The_Target_Says_What_It_Kept) {
    Put_Episode("RIDEV_2026_12_01/D0001", 3);
    Put_Episode("RIDEV_2026_12_01/D0002", 4);
    Put("RIDEV_2026_12_01/D0002/I_10_00_09__10009.jpg.vistrel-tmp-abcdef");
    queued.insert(dest + "RIDEV_2026_12_01/D0001/I_10_00_00__10000.jpg");
    queued.insert(dest + "RIDEV_2026_12_01/D0001/I_10_00_00__10001.jpg");
    inputs.current_episode = dest + "RIDEV_2026_12_01/D0002/";
    inputs.fixed_picture = dest + "RIDEV_2026_12_01/D0001/I_10_00_00__10002.jpg";
    capacity = 9 * unit;
    inputs.keep_free_bytes = 4 * unit;
    const Keep_Free_Outcome outcome = Pass();
    EXPECT_EQ(outcome.state, Keeper_State::Short);
    EXPECT_FALSE(outcome.enough_room);
    EXPECT_EQ(outcome.files_deleted, 0u);
    EXPECT_EQ(outcome.kept.queued, 2u);
    EXPECT_EQ(outcome.kept.current, 4u);
    EXPECT_TRUE(outcome.kept.fixed);
    const std::string said = Keeper_Status_Text(outcome);
    EXPECT_EQ(said.rfind("Only " + Size_Text(outcome.free_bytes) + " free on the disk of " + dest +
                             ", less than the " + Size_Text(4 * unit) + " to keep free.",
                         0),
              0u)
        << said;
    EXPECT_NE(said.find("2 pictures still waiting to be uploaded, 4 pictures of the episode "
                        "being recorded and the fixed-name picture"),
              std::string::npos)
        << said;
}

} // namespace
} // namespace vistrel
