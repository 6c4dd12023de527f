#include "recording/episode_tracker.h"

#include <algorithm>

namespace vistrel {

void Episode_Tracker::Motion_Started(double level, bool trigger_kept) {
    *this = Episode_Tracker{};
    active_ = true;
    motion_ = true;
    start_level_ = level;
    highest_ = level;
    waiting_for_trigger_ = trigger_kept;
}

void Episode_Tracker::Continuous_Started(double level) {
    *this = Episode_Tracker{};
    active_ = true;
    start_level_ = level;
}

void Episode_Tracker::Level_Seen(double level) {
    highest_ = std::max(highest_, level);
}

std::optional<Episode_Report> Episode_Tracker::Picture_Written(const std::string& relative_folder,
                                                               const std::string& path,
                                                               const std::string& name,
                                                               const Local_Date_Time& when,
                                                               uint32_t tick, bool is_trigger) {
    if (!active_)
        return std::nullopt;
    // Pictures from before the motion are written in name order, so the
    // first written is the episode's first.
    if (pictures_ == 0 || tick - first_tick_ > 0x80000000u)
        first_tick_ = tick;
    ++pictures_;
    if (pictures_ == 1 || tick - last_tick_ < 0x80000000u)
        last_tick_ = tick;
    last_.motion = motion_;
    last_.folder = relative_folder;
    while (!last_.folder.empty() && last_.folder.back() == '/')
        last_.folder.pop_back();
    last_.picture_path = path;
    last_.picture_name = name;
    last_.time = when;
    if (announced_ || (waiting_for_trigger_ && !is_trigger))
        return std::nullopt;
    announced_ = true;
    Episode_Report start = last_;
    start.level = start_level_;
    return start;
}

std::optional<Episode_Report> Episode_Tracker::Motion_Ended() {
    const bool told = active_ && motion_ && announced_;
    Episode_Report end = last_;
    end.level = highest_;
    end.pictures = pictures_;
    end.duration_ms = last_tick_ - first_tick_;
    *this = Episode_Tracker{};
    if (!told)
        return std::nullopt;
    return end;
}

} // namespace vistrel
