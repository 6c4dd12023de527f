#include "upload/transfer_progress.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vistrel {
namespace {

using namespace std::chrono_literals;

TEST(Transfer_Progress, Stalls_Once_Any_Window_Holds_Less_Than_The_Minimum) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, size_t>> moved; // at ms, bytes
        int stalls_at_ms;
    };
    // A window of 60 s and a minimum of 1024 bytes.
    const Case cases[] = {
        {"nothing moves", {}, 60000},
        {"too little in the first window", {{1000, 1023}}, 60000},
        {"enough at once", {{1000, 1024}}, 61000},
        {"enough spread out", {{1000, 512}, {30000, 512}}, 61000},
        {"a trickle never reaches it", {{10000, 100}, {20000, 100}, {50000, 100}}, 60000},
        // The newer pieces carry the window once they reach the minimum.
        {"newer pieces take over", {{1000, 1024}, {40000, 600}, {50000, 600}}, 100000},
        {"a gap in the middle", {{1000, 2000}, {90000, 2000}}, 150000},
        {"bytes one at a time", {{1000, 1}, {2000, 1}}, 60000},
        {"empty pieces count for nothing", {{1000, 1024}, {50000, 0}}, 61000},
    };
    const Deadline start{};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Transfer_Progress progress(start, 60s, 1024);
        for (const auto& [at, bytes] : c.moved)
            progress.Moved(bytes, start + std::chrono::milliseconds(at));
        EXPECT_EQ(progress.Stalls_At(), start + std::chrono::milliseconds(c.stalls_at_ms));
    }
    Transfer_Progress unlimited(start, kNo_Limit, 1024);
    EXPECT_EQ(unlimited.Stalls_At(), Deadline::max());
}

TEST(Transfer_Progress, Holds_Only_The_Pieces_That_Still_Decide) {
    // A long transfer in small pieces: the deadline follows the latest
    // kilobyte, however many pieces came before it.
    const Deadline start{};
    Transfer_Progress progress(start, 60s, 1024);
    for (int ms = 0; ms < 1000000; ms += 10)
        progress.Moved(16, start + std::chrono::milliseconds(ms));
    // The last 64 pieces, 640 ms, make the kilobyte.
    EXPECT_EQ(progress.Stalls_At(), start + std::chrono::milliseconds(999990 - 630 + 60000));
}

} // namespace
} // namespace vistrel
