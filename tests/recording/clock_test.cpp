#include "recording/clock.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace vistrel {
namespace {

int64_t Milliseconds_Of(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

// How far the tick count runs ahead of CLOCK_MONOTONIC, read in a time
// namespace whose boot clock is `slept_seconds` ahead: what a machine that
// slept that long shows. Nothing when this kernel or sandbox gives no such
// namespace to an unprivileged user.
std::optional<int64_t> Tick_Lead_After_Sleep(int slept_seconds, std::string& why_not) {
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) {
        why_not = "no pipe";
        return std::nullopt;
    }
    // Built before the fork: the child of a process with threads must not
    // allocate.
    const std::string line = "boottime " + std::to_string(slept_seconds) + " 0\n";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_ends[0]);
        int64_t lead = INT64_MIN;
        if (::unshare(CLONE_NEWUSER | CLONE_NEWTIME) == 0) {
            const int offsets = ::open("/proc/self/timens_offsets", O_WRONLY);
            const int time_ns = ::open("/proc/self/ns/time_for_children", O_RDONLY);
            if (offsets >= 0 &&
                ::write(offsets, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                time_ns >= 0 && ::setns(time_ns, CLONE_NEWTIME) == 0) {
                System_Clock clock;
                const auto ticks = static_cast<int64_t>(clock.Tick_Count());
                const auto monotonic =
                    static_cast<int64_t>(static_cast<uint32_t>(Milliseconds_Of(CLOCK_MONOTONIC)));
                lead = static_cast<int64_t>(static_cast<uint32_t>(ticks - monotonic));
            }
        }
        [[maybe_unused]] const ssize_t sent = ::write(pipe_ends[1], &lead, sizeof lead);
        ::_exit(0);
    }
    ::close(pipe_ends[1]);
    int64_t lead = INT64_MIN;
    const ssize_t got = ::read(pipe_ends[0], &lead, sizeof lead);
    ::close(pipe_ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (got != sizeof lead || lead == INT64_MIN) {
        why_not = "no time namespace with a boot clock offset here";
        return std::nullopt;
    }
    return lead;
}

TEST(System_Clock, TickCountGoesOnWhileTheMachineSleeps) {
    const int64_t slept_before = Milliseconds_Of(CLOCK_BOOTTIME) - Milliseconds_Of(CLOCK_MONOTONIC);
    std::string why_not;
    const std::optional<int64_t> lead = Tick_Lead_After_Sleep(3600, why_not);
    if (!lead)
        GTEST_SKIP() << why_not;
    // An hour's sleep must show in the tick count, give or take the moments
    // between the reads.
    EXPECT_NEAR(static_cast<double>(*lead), 3'600'000.0 + static_cast<double>(slept_before), 100.0);
}

} // namespace
} // namespace vistrel
