#include "episodes/episode_delete.h"

#include "episodes/episode_listing.h"
#include "recording/picture_folders.h"
#include "upload/upload_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace vistrel {

namespace {

bool Never_Stop() {
    return false;
}

// Every entry but "." and "..", whatever its kind: a link or a socket of the
// user's keeps the folder as much as a file does.
size_t Count_Entries(int folder_fd) {
    const int fd = ::dup(folder_fd);
    if (fd < 0)
        return 0;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return 0;
    }
    ::rewinddir(dir);
    size_t count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            ++count;
    }
    ::closedir(dir);
    return count;
}

} // namespace

Delete_Result Delete_Episode(const std::string& dest_folder, const std::string& day_folder_name,
                             const std::string& episode_folder_name, Upload_List* queue) {
    Delete_Result result;
    // Before the files go, so that the worker does not start on them.
    if (queue != nullptr)
        result.forgotten =
            queue->Forget_Folder(Episode_Relative_Folder(day_folder_name, episode_folder_name));
    const Folder_Handle dest(AT_FDCWD, dest_folder, true);
    if (!dest.Open())
        return result;
    const Folder_Handle day(dest.Fd(), day_folder_name);
    if (!day.Open())
        return result;
    {
        const Folder_Handle episode(day.Fd(), episode_folder_name);
        if (!episode.Open())
            return result;
        for (const std::string& file : Own_Files_Oldest_First(episode.Fd(), Never_Stop)) {
            if (::unlinkat(episode.Fd(), file.c_str(), 0) == 0)
                ++result.removed;
            else
                ++result.failed;
        }
        const size_t left = Count_Entries(episode.Fd());
        result.others_left = left > result.failed ? left - result.failed : 0;
        if (result.others_left > 0 || result.failed > 0)
            return result;
    }
    result.folder_removed = ::unlinkat(day.Fd(), episode_folder_name.c_str(), AT_REMOVEDIR) == 0;
    return result;
}

} // namespace vistrel
