#include "recording/picture_folders.h"

#include "settings/file_helpers.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace vistrel {

namespace {

bool Digits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size())
        return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                       text.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Where the picture's name ends and the temporary's marker begins.
size_t Picture_Name_Length(const std::string& name) {
    // "I_HH_MM_SS__" then at least five digits, then ".jpg".
    if (name.size() < 21 || name.compare(0, 2, "I_") != 0 || !Digits(name, 2, 2) ||
        name[4] != '_' || !Digits(name, 5, 2) || name[7] != '_' || !Digits(name, 8, 2) ||
        name.compare(10, 2, "__") != 0)
        return 0;
    size_t end = 12;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])))
        ++end;
    if (end - 12 < 5 || name.compare(end, 4, ".jpg") != 0)
        return 0;
    return end + 4;
}

// Time of day, then picture number: the order the pictures were taken in.
using Order_Key = std::tuple<std::string, size_t, std::string, std::string>;
Order_Key Picture_Order_Key(const std::string& name) {
    const size_t length = Picture_Name_Length(name);
    const std::string number = length > 16 ? name.substr(12, length - 16) : std::string();
    return {name.substr(0, 10), number.size(), number, name};
}

} // namespace

Folder_Handle::Folder_Handle(int at, const std::string& name, bool follow_link)
    : fd_(::openat(at, name.c_str(),
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW))) {}

Folder_Handle::~Folder_Handle() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool Is_Day_Folder_Name(const std::string& name) {
    return name.size() == 16 && name.compare(0, 6, "RIDEV_") == 0 && Digits(name, 6, 4) &&
           name[10] == '_' && Digits(name, 11, 2) && name[13] == '_' && Digits(name, 14, 2);
}

bool Is_Episode_Folder_Name(const std::string& name) {
    return name.size() >= 5 && (name[0] == 'D' || name[0] == 'R') &&
           Digits(name, 1, name.size() - 1);
}

bool Is_Picture_Name(const std::string& name) {
    return Picture_Name_Length(name) == name.size();
}

bool Is_Picture_Temporary_Name(const std::string& name) {
    const size_t length = Picture_Name_Length(name);
    const size_t marker = std::char_traits<char>::length(kTemporary_Marker);
    return length > 0 && name.size() == length + marker + 6 &&
           name.compare(length, marker, kTemporary_Marker) == 0 &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(length + marker), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
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
    for (std::string& file : Entries(episode_fd, false, stopping))
        if (Is_Picture_Name(file) || Is_Picture_Temporary_Name(file))
            keyed.emplace_back(Picture_Order_Key(file), std::move(file));
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
            if (Is_Picture_Name(file)) {
                Order_Key key = Picture_Order_Key(file);
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
