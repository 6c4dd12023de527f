#include "recording/clock.h"

#include <chrono>
#include <ctime>

namespace vistrel {

uint32_t System_Clock::Tick_Count() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
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
