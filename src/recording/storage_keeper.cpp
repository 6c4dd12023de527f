#include "recording/storage_keeper.h"

#include "settings/file_helpers.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
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

// The entries of `folder` that are themselves (not through a link) of the
// wanted kind, by name.
std::vector<std::string> Entries(const std::string& folder, bool want_folders) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
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

struct Episode {
    std::string folder;                 // full, ends in "/"
    std::vector<std::string> own_files; // oldest first
};

// Time of day, then picture number: the order the pictures were taken in.
auto Picture_Order_Key(const std::string& name) {
    const size_t length = Picture_Name_Length(name);
    const std::string time = name.substr(0, 10);
    const std::string number = length > 16 ? name.substr(12, length - 16) : std::string();
    return std::make_tuple(time, number.size(), number, name);
}

// The episodes of a day folder, the oldest first by their first picture;
// those without a picture of their own (only leftovers) lead.
std::vector<Episode> Episodes_Oldest_First(const std::string& day_folder) {
    std::vector<Episode> episodes;
    for (const std::string& name : Entries(day_folder, true)) {
        if (!Is_Episode_Folder_Name(name))
            continue;
        Episode episode{day_folder + name + "/", {}};
        for (const std::string& file : Entries(episode.folder, false))
            if (Is_Picture_Name(file) || Is_Picture_Temporary_Name(file))
                episode.own_files.push_back(file);
        std::sort(episode.own_files.begin(), episode.own_files.end(),
                  [](const std::string& a, const std::string& b) {
                      return Picture_Order_Key(a) < Picture_Order_Key(b);
                  });
        episodes.push_back(std::move(episode));
    }
    const auto first_picture = [](const Episode& e) {
        const auto it = std::find_if(e.own_files.begin(), e.own_files.end(), Is_Picture_Name);
        return it == e.own_files.end() ? std::string() : *it;
    };
    std::sort(episodes.begin(), episodes.end(), [&](const Episode& a, const Episode& b) {
        const std::string fa = first_picture(a);
        const std::string fb = first_picture(b);
        if (fa.empty() || fb.empty())
            return fa.empty() && !fb.empty();
        return Picture_Order_Key(fa) < Picture_Order_Key(fb);
    });
    return episodes;
}

// A temporary another write may still be filling is left for a later pass.
bool Old_Enough_To_Remove(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    return std::time(nullptr) - st.st_mtime >= 60;
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
        // Unknown free space deletes nothing.
        const auto enough = [&] {
            const std::optional<uint64_t> free = free_bytes(dest);
            return !free || *free >= in.keep_free_bytes;
        };
        const auto stopping = [&] { return hooks.stopping && hooks.stopping(); };
        if (enough())
            return outcome;

        std::optional<std::unordered_set<std::string>> queued;
        std::vector<std::string> days = Entries(dest, true);
        std::erase_if(days, [](const std::string& d) { return !Is_Day_Folder_Name(d); });
        std::sort(days.begin(), days.end()); // the names sort by date
        for (const std::string& day : days) {
            const std::string day_folder = dest + day + "/";
            for (const Episode& episode : Episodes_Oldest_First(day_folder)) {
                if (stopping())
                    return outcome;
                in = inputs(); // the recording may have moved on to another episode
                if (!in.current_episode.empty() &&
                    Normal(episode.folder) == Normal(With_Slash(in.current_episode)))
                    continue;
                if (in.uploading && !queued) {
                    queued.emplace();
                    if (hooks.queued_pictures)
                        for (const std::string& path : hooks.queued_pictures())
                            queued->insert(Normal(path));
                }
                const std::string fixed = in.fixed_picture.empty() ? "" : Normal(in.fixed_picture);
                for (const std::string& file : episode.own_files) {
                    if (stopping())
                        return outcome;
                    const std::string path = episode.folder + file;
                    const std::string normal = Normal(path);
                    if (normal == fixed || (in.uploading && queued->count(normal) > 0))
                        continue;
                    if (Is_Picture_Temporary_Name(file) && !Old_Enough_To_Remove(path))
                        continue;
                    if (::unlink(path.c_str()) == 0)
                        ++outcome.files_deleted;
                    if (enough()) {
                        ::rmdir(episode.folder.c_str()); // only when nothing else is left
                        ::rmdir(day_folder.c_str());
                        return outcome;
                    }
                }
                ::rmdir(episode.folder.c_str());
            }
            ::rmdir(day_folder.c_str());
        }
        outcome.enough_room = enough();
    } catch (...) {
        outcome.enough_room = false;
    }
    return outcome;
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
        wake_.wait(lock, [&] { return stop_ || updated_; });
        if (stop_)
            return;
        if (last_pass && wake_.wait_until(lock, *last_pass + interval_, [&] { return stop_; }))
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
