#include "recording/picture_folders.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace vistrel {

namespace {

// Time of day, then picture number: the order the pictures were taken in.
// A longer number is a later one, whatever its leading zeros.
using Order_Key = std::tuple<int, int, int, size_t, std::string, std::string>;
Order_Key Picture_Order_Key(Picture_Name_Parts parts, const std::string& name) {
    const size_t digits = parts.number.size();
    return {parts.hour, parts.minute, parts.second, digits, std::move(parts.number), name};
}

} // namespace

Folder_Handle::Folder_Handle(int at, const std::string& name, bool follow_link)
    : fd_(::openat(at, name.c_str(),
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW))) {}

Folder_Handle::~Folder_Handle() {
    if (fd_ >= 0)
        ::close(fd_);
}

// The entries of a folder that are themselves (not through a link) of the
// wanted kind, by name; cut short when the program closes.
std::vector<std::string> Entries(int folder_fd, bool want_folders,
                                 const std::function<bool()>& stopping) {
    std::vector<std::string> names;
    const int fd = ::dup(folder_fd);
    if (fd < 0)
        return names;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return names;
    }
    ::rewinddir(dir);
    size_t seen = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (++seen % 1024 == 0 && stopping())
            break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == (want_folders ? DT_DIR : DT_REG))
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// The program's own files of an episode folder, the oldest first.
std::vector<std::string> Own_Files_Oldest_First(int episode_fd,
                                                const std::function<bool()>& stopping) {
    std::vector<std::pair<Order_Key, std::string>> keyed;
    for (std::string& file : Entries(episode_fd, false, stopping)) {
        std::optional<Picture_Name_Parts> parts = Parse_Picture_Name(file);
        if (!parts)
            parts = Parse_Picture_Temporary_Name(file);
        if (parts)
            keyed.emplace_back(Picture_Order_Key(std::move(*parts), file), std::move(file));
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::string> files;
    files.reserve(keyed.size());
    for (auto& [key, file] : keyed)
        files.push_back(std::move(file));
    return files;
}

// The episode folders of a day folder, the oldest first by their first
// picture; those without a picture of their own (only leftovers) lead.
std::vector<std::string> Episodes_Oldest_First(int day_fd, const std::function<bool()>& stopping) {
    std::vector<std::pair<std::optional<Order_Key>, std::string>> keyed;
    for (std::string& name : Entries(day_fd, true, stopping)) {
        if (!Is_Episode_Folder_Name(name) || stopping())
            continue;
        const Folder_Handle episode(day_fd, name);
        if (!episode.Open())
            continue;
        std::optional<Order_Key> first;
        for (const std::string& file : Entries(episode.Fd(), false, stopping))
            if (std::optional<Picture_Name_Parts> parts = Parse_Picture_Name(file)) {
                Order_Key key = Picture_Order_Key(std::move(*parts), file);
                if (!first || key < *first)
                    first = std::move(key);
            }
        keyed.emplace_back(std::move(first), std::move(name));
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::string> names;
    for (auto& [key, name] : keyed)
        names.push_back(std::move(name));
    return names;
}

} // namespace vistrel
