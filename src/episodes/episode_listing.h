// The day folders under a destination and the episode folders of one day, as
// the Episodes window lists them when it opens: folder names only, never the
// pictures inside, so that a month of recording opens at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vistrel {

struct Day_Entry {
    std::string folder_name; // "RIDEV_2026_12_10", without a slash
    int year = 0;
    int month = 0;
    int day = 0;
    size_t episodes = 0; // episode folders in it, empty ones included
};

// The program's day folders, newest first. A name that reads as a day folder
// but is no calendar date (RIDEV_2026_13_40) was not written by the program
// and is left out, as is anything reached through a symbolic link.
std::vector<Day_Entry> List_Days(const std::string& dest_folder);

struct Episode_Entry {
    std::string folder_name; // "D0004", without a slash
    char kind = 'D';         // 'D' motion, 'R' continuous
    uint32_t number = 0;
};

// The episode folders of one day, newest first. Each kind has its own
// counter, so within a kind the higher number is the newer; the two kinds
// are merged by the time each folder last changed (a picture added), which
// one stat a folder gives, without reading the pictures. Equal times put D
// first.
std::vector<Episode_Entry> List_Episodes(const std::string& dest_folder,
                                         const std::string& day_folder_name);

// "DEST/RIDEV_2026_12_10/D0004", whether or not the destination ends in "/".
std::string Episode_Folder_Path(const std::string& dest_folder, const std::string& day_folder_name,
                                const std::string& episode_folder_name);

// "RIDEV_2026_12_10/D0004/", as the upload queue names an entry's folder.
std::string Episode_Relative_Folder(const std::string& day_folder_name,
                                    const std::string& episode_folder_name);

} // namespace vistrel
