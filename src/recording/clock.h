// Time as the sampling tick sees it: a 32-bit millisecond count that wraps
// (for the recording delays and the processing time) and the local date and
// time (for folder names, file names and the stamp). Injected so every timing
// case can be tested without waiting.
#pragma once

#include "recording/local_date_time.h"

#include <cstdint>
#include <ctime>

namespace vistrel {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t Tick_Count() = 0;
    virtual Local_Date_Time Now() = 0;
};

// The local date and time of `moment` in the zone in force now: the TZ
// variable, or the machine's zone file when TZ is unset. Both are read again
// on every call, so a program left running for weeks follows a move of the
// machine to another zone.
Local_Date_Time Local_Time_Of(std::time_t moment);

// Milliseconds since boot, sleep included, and the local time of the machine.
class System_Clock : public Clock {
public:
    uint32_t Tick_Count() override;
    Local_Date_Time Now() override;
};

} // namespace vistrel
