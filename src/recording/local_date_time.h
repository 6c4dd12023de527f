// A local calendar date and time of day, as a tick reads it once for every
// picture it records.
#pragma once

namespace vistrel {

struct Local_Date_Time {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    int hour = 0;   // 0 to 23
    int minute = 0; // 0 to 59
    int second = 0; // 0 to 59

    bool operator==(const Local_Date_Time&) const = default;
};

} // namespace vistrel
