// The program's own folders and pictures under a destination folder, as the
// free-space keeper walks them: recognised by their names, opened without
// following links, listed oldest first.
#pragma once

#include "recording/picture_names.h"

#include <functional>
#include <string>
#include <vector>

namespace vistrel {

// A folder opened as itself, never through a symbolic link, so that what is
// deleted below it stays below it even when a name is swapped meanwhile.
class Folder_Handle {
public:
    Folder_Handle(int at, const std::string& name, bool follow_link = false);
    ~Folder_Handle();
    Folder_Handle(const Folder_Handle&) = delete;
    Folder_Handle& operator=(const Folder_Handle&) = delete;
    bool Open() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

private:
    int fd_;
};

// The entries of a folder that are themselves (not through a link) of the
// wanted kind, by name; cut short when the program closes.
std::vector<std::string> Entries(int folder_fd, bool want_folders,
                                 const std::function<bool()>& stopping);

// The program's own files of an episode folder (pictures and their
// temporaries), the oldest first.
std::vector<std::string> Own_Files_Oldest_First(int episode_fd,
                                                const std::function<bool()>& stopping);

// The episode folders of a day folder, the oldest first by their first
// picture; those without a picture of their own (only leftovers) lead.
std::vector<std::string> Episodes_Oldest_First(int day_fd, const std::function<bool()>& stopping);

} // namespace vistrel
