// Time as the sampling tick sees it: a 32-bit millisecond count that wraps
// (for the recording delays and the processing time) and the local date and
// time (for folder names, file names and the stamp). Injected so every timing
// case can be tested without waiting.
#pragma once

#include "recording/local_date_time.h"

#include <cstdint>

namespace vistrel {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t Tick_Count() = 0;
    virtual Local_Date_Time Now() = 0;
};

// Milliseconds of a monotonic clock, and the local time of the machine.
class System_Clock : public Clock {
public:
    uint32_t Tick_Count() override;
    Local_Date_Time Now() override;
};

} // namespace vistrel
