// What an episode's row shows, read from its own folder when the row is first
// shown: how many pictures, their first and last times, and whether a
// picture is still being written into it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vistrel {

struct Time_Of_Day {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int Seconds() const { return hour * 3600 + minute * 60 + second; }
    bool operator==(const Time_Of_Day&) const = default;
};

struct Episode_Summary {
    size_t pictures = 0;
    std::string first_picture; // file names, empty without pictures
    std::string last_picture;
    Time_Of_Day start;
    Time_Of_Day end;
    // From the names, in the order of the names: never negative, even when
    // the clock was set back during the episode.
    int duration_s = 0;
    // A temporary of ours is there: a picture is being written (or a kill
    // left it behind).
    bool being_written = false;
};

// Lists that one folder. Only the program's pictures and temporaries count;
// anything else a user put there is passed over. A folder that cannot be
// opened gives an empty summary.
Episode_Summary Summarize_Episode(const std::string& episode_folder_path);

// The pictures' file names in the order they were taken, for the viewer;
// temporaries and the user's files left out.
std::vector<std::string> Episode_Pictures(const std::string& episode_folder_path);

} // namespace vistrel
