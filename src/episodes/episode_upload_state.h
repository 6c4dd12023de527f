// An episode's place in the upload queue, for its row: how many of its
// pictures still wait to be sent, and how many the server refused for good.
#pragma once

#include <cstddef>
#include <set>
#include <string>

namespace vistrel {

class Upload_List;

struct Upload_State {
    size_t waiting = 0; // not sent yet, the one being sent included
    size_t refused = 0; // listed in "upload_refused"
    bool operator==(const Upload_State&) const = default;
};

// The pictures listed in an "upload_refused" file, full paths, with the
// "\n" a line break in a path was written as read back as a line break.
// Nothing when the file is missing or cannot be read.
std::set<std::string> Read_Refused_Paths(const std::string& path);

// `relative_folder` as the queue names it ("RIDEV_2026_12_10/D0004/");
// `episode_folder_path` the folder itself, which the refused paths begin
// with. The queue is walked in pieces, its lock held for one piece only, so
// that the sampling tick never waits on a long queue.
Upload_State Upload_State_Of(const Upload_List& queue, const std::set<std::string>& refused,
                             const std::string& relative_folder,
                             const std::string& episode_folder_path);

} // namespace vistrel
