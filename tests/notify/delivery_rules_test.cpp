#include "notify/delivery_rules.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

using std::chrono::seconds;

TEST(Delivery_Rules, OneStartMessagePerCooldownCountingTheQuietEpisodes) {
    Start_Cooldown gate;
    const Notify_Clock::time_point t0{};
    EXPECT_TRUE(gate.Allow(t0, 60));
    EXPECT_EQ(gate.Take_Quiet_Episodes(), 0u);
    EXPECT_FALSE(gate.Allow(t0 + seconds(10), 60));
    EXPECT_FALSE(gate.Allow(t0 + seconds(59), 60));
    // The cooldown counts from the last message that went, not the last
    // episode.
    EXPECT_TRUE(gate.Allow(t0 + seconds(60), 60));
    EXPECT_EQ(gate.Take_Quiet_Episodes(), 2u);
    EXPECT_EQ(gate.Take_Quiet_Episodes(), 0u);
    EXPECT_FALSE(gate.Allow(t0 + seconds(100), 60));
    EXPECT_TRUE(gate.Allow(t0 + seconds(101), 0)) << "no cooldown";
    EXPECT_TRUE(gate.Allow(t0 + seconds(101), 0));
}

TEST(Delivery_Rules, RetriesWaitTenSecondsDoublingUpToFiveMinutes) {
    const std::vector<std::pair<uint32_t, long>> table = {
        {0, 10}, {1, 10}, {2, 20}, {3, 40}, {4, 80}, {5, 160}, {6, 300}, {7, 300}, {1000, 300}};
    for (const auto& [failures, wait] : table)
        EXPECT_EQ(Retry_Delay(failures).count(), wait) << failures;
}

TEST(Delivery_Rules, OnlyClientErrorsButTimeOutAndTooManyAreForGood) {
    for (const long status : {400L, 401L, 403L, 404L, 410L, 413L, 499L})
        EXPECT_TRUE(Refused_For_Good(status)) << status;
    for (const long status : {0L, 200L, 301L, 399L, 408L, 429L, 500L, 502L, 503L})
        EXPECT_FALSE(Refused_For_Good(status)) << status;
}

} // namespace
} // namespace vistrel
