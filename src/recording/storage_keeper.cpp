#include "recording/storage_keeper.h"

#include "settings/file_helpers.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <tuple>
#include <unistd.h>
#include <vector>

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

std::string Normal(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
}

std::string With_Slash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// A folder opened as itself, never through a symbolic link, so that what is
// deleted below it stays below it even when a name is swapped meanwhile.
class Folder_Handle {
public:
    Folder_Handle(int at, const std::string& name, bool follow_link = false)
        : fd_(::openat(at, name.c_str(),
                       O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW))) {}
    ~Folder_Handle() {
        if (fd_ >= 0)
            ::close(fd_);
    }
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

// Time of day, then picture number: the order the pictures were taken in.
using Order_Key = std::tuple<std::string, size_t, std::string, std::string>;
Order_Key Picture_Order_Key(const std::string& name) {
    const size_t length = Picture_Name_Length(name);
    const std::string number = length > 16 ? name.substr(12, length - 16) : std::string();
    return {name.substr(0, 10), number.size(), number, name};
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

std::optional<uint64_t> Statvfs_Free_Bytes(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
}

} // namespace

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

Keep_Free_Outcome Keep_Free_Space(const std::function<Keeper_Inputs()>& inputs,
                                  const Keeper_Hooks& hooks) noexcept {
    Keep_Free_Outcome outcome;
    try {
        Keeper_Inputs in = inputs();
        if (in.keep_free_bytes == 0 || in.dest_folder.empty())
            return outcome;
        const std::string dest = With_Slash(in.dest_folder);
        const auto free_bytes = hooks.free_bytes ? hooks.free_bytes : Statvfs_Free_Bytes;
        const auto stopping = [&] { return hooks.stopping && hooks.stopping(); };
        const std::optional<uint64_t> free_at_start = free_bytes(dest);
        // Unknown free space deletes nothing.
        if (!free_at_start || *free_at_start >= in.keep_free_bytes)
            return outcome;
        // Some file systems (btrfs, ZFS) show freed space only when their
        // transaction commits, seconds later: what was deleted counts at
        // once, or a pass would delete everything it may.
        uint64_t freed = 0;
        const auto enough = [&] {
            const std::optional<uint64_t> free = free_bytes(dest);
            return !free || std::max(*free, *free_at_start + freed) >= in.keep_free_bytes;
        };

        const Folder_Handle dest_folder(AT_FDCWD, dest, true);
        if (!dest_folder.Open())
            return outcome;
        std::vector<std::string> days = Entries(dest_folder.Fd(), true, stopping);
        std::erase_if(days, [](const std::string& d) { return !Is_Day_Folder_Name(d); });
        std::sort(days.begin(), days.end()); // the names sort by date
        for (const std::string& day : days) {
            const Folder_Handle day_folder(dest_folder.Fd(), day);
            if (!day_folder.Open())
                continue;
            for (const std::string& name : Episodes_Oldest_First(day_folder.Fd(), stopping)) {
                if (stopping())
                    return outcome;
                const std::string episode_path = dest + day + "/" + name + "/";
                // Read again for each episode: the recording may have moved
                // on, and what it recorded since was queued before it did.
                in = inputs();
                if (!in.current_episode.empty() &&
                    Normal(episode_path) == Normal(With_Slash(in.current_episode)))
                    continue;
                std::unordered_set<std::string> queued;
                if (in.uploading && hooks.queued_pictures)
                    for (const std::string& path : hooks.queued_pictures())
                        queued.insert(Normal(path));
                const std::string fixed = in.fixed_picture.empty() ? "" : Normal(in.fixed_picture);
                const Folder_Handle episode(day_folder.Fd(), name);
                if (!episode.Open())
                    continue;
                for (const std::string& file : Own_Files_Oldest_First(episode.Fd(), stopping)) {
                    if (stopping())
                        return outcome;
                    const std::string normal = Normal(episode_path + file);
                    if (normal == fixed || queued.count(normal) > 0)
                        continue;
                    struct stat st {};
                    if (::fstatat(episode.Fd(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                        !S_ISREG(st.st_mode))
                        continue;
                    // A temporary another write may still be filling is left
                    // for a later pass.
                    if (Is_Picture_Temporary_Name(file) && std::time(nullptr) - st.st_mtime < 60)
                        continue;
                    if (::unlinkat(episode.Fd(), file.c_str(), 0) != 0)
                        continue;
                    ++outcome.files_deleted;
                    if (st.st_nlink <= 1)
                        freed += static_cast<uint64_t>(st.st_blocks) * 512;
                    if (enough()) {
                        // Only when nothing else is left in them.
                        ::unlinkat(day_folder.Fd(), name.c_str(), AT_REMOVEDIR);
                        ::unlinkat(dest_folder.Fd(), day.c_str(), AT_REMOVEDIR);
                        return outcome;
                    }
                }
                ::unlinkat(day_folder.Fd(), name.c_str(), AT_REMOVEDIR);
            }
            ::unlinkat(dest_folder.Fd(), day.c_str(), AT_REMOVEDIR);
        }
        outcome.enough_room = enough();
    } catch (...) {
        outcome.enough_room = false;
    }
    return outcome;
}

void Storage_Keeper::Set_Current_Episode(const std::string& folder) noexcept {
    try {
        std::lock_guard lock(mutex_);
        inputs_.current_episode = folder;
    } catch (...) {
    }
}

Storage_Keeper::Storage_Keeper(Keeper_Hooks hooks, std::chrono::milliseconds interval)
    : hooks_(std::move(hooks)), interval_(interval) {
    auto stopping = hooks_.stopping;
    hooks_.stopping = [this, stopping] {
        std::lock_guard lock(mutex_);
        return stop_ || (stopping && stopping());
    };
    thread_ = std::thread([this] { Run(); });
}

Storage_Keeper::~Storage_Keeper() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Storage_Keeper::Update(const Keeper_Inputs& inputs) noexcept {
    try {
        {
            std::lock_guard lock(mutex_);
            inputs_ = inputs;
            updated_ = true;
            // Every tick updates: the thread is woken only when it waits for
            // one, not while it rests between passes or runs one.
            if (!waiting_for_update_)
                return;
        }
        wake_.notify_one();
    } catch (...) {
    }
}

Keeper_Inputs Storage_Keeper::Inputs() const {
    std::lock_guard lock(mutex_);
    return inputs_;
}

Keep_Free_Outcome Storage_Keeper::Last_Outcome() const {
    std::lock_guard lock(mutex_);
    return outcome_;
}

uint64_t Storage_Keeper::Passes() const {
    std::lock_guard lock(mutex_);
    return passes_;
}

void Storage_Keeper::Run() noexcept {
    using Steady = std::chrono::steady_clock;
    std::optional<Steady::time_point> last_pass;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (last_pass && wake_.wait_until(lock, *last_pass + interval_, [&] { return stop_; }))
            return;
        waiting_for_update_ = true;
        wake_.wait(lock, [&] { return stop_ || updated_; });
        waiting_for_update_ = false;
        if (stop_)
            return;
        updated_ = false;
        const bool on = inputs_.keep_free_bytes > 0;
        lock.unlock();
        const Keep_Free_Outcome outcome =
            on ? Keep_Free_Space([this] { return Inputs(); }, hooks_) : Keep_Free_Outcome{};
        lock.lock();
        outcome_ = outcome;
        ++passes_;
        last_pass = Steady::now();
    }
}

} // namespace vistrel
