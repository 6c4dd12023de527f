#include "recording/free_space_plan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace vistrel {
namespace {

using namespace std::chrono_literals;

TEST(Free_Space_Plan, Targets_Fit_Half_A_Disk_And_A_Pass_Frees_A_Little_More) {
    struct Case {
        uint64_t keep, disk;
        bool fits;
        uint64_t goal;
    };
    const Case cases[] = {
        {4000000000, 8000000000, true, 4200000000},
        {4000000001, 8000000000, false, 4200000001},
        {20000000000, 8000000000, false, 20256000000}, // the extra stops at 256 MB
        {100000000, 201, false, 105000000},
        {1, 3, true, 1},
        {0, 0, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keep);
        EXPECT_EQ(Keep_Free_Fits(c.keep, c.disk), c.fits);
        EXPECT_EQ(Deletion_Goal(c.keep), c.goal);
    }
}

TEST(Free_Space_Plan, The_Ledger_Carries_Deletions_Until_Most_Of_Them_Shows) {
    const Keeper_Clock::time_point start{};
    struct Step {
        const char* what;
        int64_t second;
        uint64_t deleted;  // bytes deleted just before this measurement, with 1000 free
        uint64_t measured; // free space measured
        uint64_t planning; // what to plan with
        bool not_showing;
    };
    const Step steps[] = {
        {"nothing deleted", 0, 0, 1000, 1000, false},
        {"500 deleted, not shown", 0, 500, 1000, 1500, false},
        {"a little shown", 10, 0, 1200, 1500, false},
        {"300 more deleted", 20, 300, 1200, 1800, false},
        {"not all after a minute from the first", 60, 0, 1300, 1800, true},
        {"most shown at last", 65, 0, 1400, 1400, false},
        {"afresh", 70, 100, 1400, 1400, false},
    };
    Free_Space_Ledger ledger;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const auto now = start + std::chrono::seconds(step.second);
        ledger.Deleted(1000, step.deleted, now);
        ledger.Measured(step.measured);
        EXPECT_EQ(ledger.Planning_Free(step.measured), step.planning);
        EXPECT_EQ(ledger.Not_Showing(now), step.not_showing);
    }
}

TEST(Free_Space_Plan, Sizes_Read_As_The_User_Buys_Disks) {
    EXPECT_EQ(Size_Text(0), "0.0 MB");
    EXPECT_EQ(Size_Text(4096), "0.0 MB");
    EXPECT_EQ(Size_Text(360000000), "0.4 GB");
    EXPECT_EQ(Size_Text(99999999), "100.0 MB");
    EXPECT_EQ(Size_Text(2000000000), "2.0 GB");
    EXPECT_EQ(Size_Text(1000000000000000), "1000000.0 GB");
}

} // namespace
} // namespace vistrel
