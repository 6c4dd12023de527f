#include "episodes/episode_summary.h"

#include "recording/picture_folders.h"
#include "recording/picture_names.h"

#include <algorithm>
#include <fcntl.h>

namespace vistrel {

namespace {

bool Never_Stop() {
    return false;
}

// The program's own files, oldest first, in the order the free-space keeper
// deletes them, which is the order they were taken in.
std::vector<std::string> Own_Files(const std::string& episode_folder_path) {
    const Folder_Handle episode(AT_FDCWD, episode_folder_path);
    if (!episode.Open())
        return {};
    return Own_Files_Oldest_First(episode.Fd(), Never_Stop);
}

Time_Of_Day Time_Of(const Picture_Name_Parts& parts) {
    return {parts.hour, parts.minute, parts.second};
}

} // namespace

Episode_Summary Summarize_Episode(const std::string& episode_folder_path) {
    Episode_Summary summary;
    const std::string* first = nullptr;
    const std::string* last = nullptr;
    const std::vector<std::string> files = Own_Files(episode_folder_path);
    for (const std::string& file : files) {
        if (!Is_Picture_Name(file)) {
            summary.being_written = true;
            continue;
        }
        ++summary.pictures;
        if (first == nullptr)
            first = &file;
        last = &file;
    }
    if (first == nullptr)
        return summary;
    summary.first_picture = *first;
    summary.last_picture = *last;
    summary.start = Time_Of(*Parse_Picture_Name(*first));
    summary.end = Time_Of(*Parse_Picture_Name(*last));
    summary.duration_s = std::max(0, summary.end.Seconds() - summary.start.Seconds());
    return summary;
}

std::vector<std::string> Episode_Pictures(const std::string& episode_folder_path) {
    std::vector<std::string> pictures = Own_Files(episode_folder_path);
    std::erase_if(pictures, [](const std::string& file) { return !Is_Picture_Name(file); });
    return pictures;
}

} // namespace vistrel
