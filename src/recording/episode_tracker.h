// What the tick tells about episodes, for the messages to the user's phone:
// when one starts (with the picture that shows it) and when a motion episode
// ends (how long, how many pictures, how much motion).
#pragma once

#include "recording/local_date_time.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vistrel {

struct Episode_Report {
    bool motion = true;       // a D episode; an R one otherwise
    std::string folder;       // "RIDEV_2026_12_10/D0004"
    std::string picture_path; // the picture that shows it; the last one at the end
    std::string picture_name;
    Local_Date_Time time;     // of that picture
    double level = 0.0;       // that started it; the highest, at the end
    uint32_t pictures = 0;    // at the end
    uint32_t duration_ms = 0; // at the end: from its first picture to its last
};

class Episode_Tracker {
public:
    // A motion episode was decided at this tick with this level. With
    // `trigger_kept`, the frame of that tick is among the pictures from
    // before the motion, and the episode is told with it.
    void Motion_Started(double level, bool trigger_kept);
    void Continuous_Started(double level);
    // The level of a tick while motion records.
    void Level_Seen(double level);
    // The trigger's picture will not be written after all.
    void Trigger_Lost() { waiting_for_trigger_ = false; }

    // A picture of the current episode is on the disk. Returns the start
    // report when this is the picture the episode is told with.
    std::optional<Episode_Report> Picture_Written(const std::string& relative_folder,
                                                  const std::string& path, const std::string& name,
                                                  const Local_Date_Time& when, uint32_t tick,
                                                  bool is_trigger);
    // The motion episode ended: its report, when it had been told.
    std::optional<Episode_Report> Motion_Ended();

private:
    bool active_ = false;
    bool motion_ = false;
    bool announced_ = false;
    bool waiting_for_trigger_ = false;
    double start_level_ = 0.0;
    double highest_ = 0.0;
    uint32_t pictures_ = 0;
    uint32_t first_tick_ = 0;
    uint32_t last_tick_ = 0;
    Episode_Report last_;
};

} // namespace vistrel
