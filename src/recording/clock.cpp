#include "recording/clock.h"

#include <ctime>
#include <time.h>

namespace vistrel {

uint32_t System_Clock::Tick_Count() {
    // CLOCK_BOOTTIME goes on while the machine sleeps, as the recording delays
    // need: a laptop that slept for an hour in an episode ends it at the first
    // calm tick after waking. CLOCK_MONOTONIC (steady_clock) stands still.
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1'000'000u;
    return static_cast<uint32_t>(ms);
}

Local_Date_Time Local_Time_Of(std::time_t moment) {
    // localtime_r alone reads the zone once per process and never again.
    ::tzset();
    std::tm local{};
    ::localtime_r(&moment, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

Local_Date_Time System_Clock::Now() {
    return Local_Time_Of(std::time(nullptr));
}

} // namespace vistrel
