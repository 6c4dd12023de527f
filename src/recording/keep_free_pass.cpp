#include "recording/keep_free_pass.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace vistrel {

namespace {

using namespace std::chrono_literals;

std::string With_Slash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::optional<Disk_Space> Space_Of(const struct statvfs& info) {
    Disk_Space space;
    space.free = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
    space.size = static_cast<uint64_t>(info.f_blocks) * static_cast<uint64_t>(info.f_frsize);
    return space;
}

// syncfs can take long on a slow card that the recording keeps busy: it runs
// on a thread of its own, which the pass stops waiting for on close or after
// a while, so that the close never waits on the disk. While one is still
// stuck (a disk that hangs), no other is started: they would pile up, one
// thread each, and each would cost its pass the whole wait again.
void Sync_With_Limit(int folder_fd, const std::function<bool()>& stopping) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done_changed;
        bool done = false;
    };
    static std::atomic<bool> syncing{false};
    if (syncing.exchange(true))
        return;
    const int fd = ::fcntl(folder_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        syncing = false;
        return;
    }
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, fd] {
            ::syncfs(fd);
            ::close(fd);
            syncing = false;
            std::lock_guard lock(shared->mutex);
            shared->done = true;
            shared->done_changed.notify_all();
        }).detach();
    } catch (...) {
        ::close(fd);
        syncing = false;
        return;
    }
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < give_up && !stopping()) {
        std::unique_lock lock(shared->mutex);
        if (shared->done_changed.wait_for(lock, 50ms, [&] { return shared->done; }))
            return;
    }
}

struct File_Id {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const File_Id&) const = default;
};
struct File_Id_Hash {
    size_t operator()(const File_Id& id) const {
        return std::hash<uint64_t>()(static_cast<uint64_t>(id.inode) * 31 +
                                     static_cast<uint64_t>(id.device));
    }
};

File_Id Id_Of(const struct stat& st) {
    return {st.st_dev, st.st_ino};
}

// Through links: a path typed another way still names the same file. One
// through a folder that does not exist ("x/../") is read as written.
std::optional<File_Id> Id_Of(const std::string& path) {
    struct stat st {};
    if (path.empty())
        return std::nullopt;
    if (::stat(path.c_str(), &st) == 0)
        return Id_Of(st);
    const std::string normal = std::filesystem::path(path).lexically_normal().string();
    if (normal != path && ::stat(normal.c_str(), &st) == 0)
        return Id_Of(st);
    return std::nullopt;
}

std::optional<File_Id> Id_Of(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return Id_Of(st);
}

// What a pass must keep, by device and inode.
class Kept_Files {
public:
    void Refresh(const Keeper_Inputs& in) {
        std::string episode = in.current_episode;
        while (episode.size() > 1 && episode.back() == '/')
            episode.pop_back();
        current_ = Id_Of(episode);
        const std::filesystem::path day = std::filesystem::path(episode).parent_path();
        current_day_ = episode.empty() ? std::nullopt : Id_Of(day.string());
        current_day_name_ = episode.empty() ? std::string() : day.filename().string();
        fixed_ = Id_Of(in.fixed_picture);
    }
    void Refresh_Queued(const Keeper_Hooks& hooks) {
        if (!hooks.queued_pictures)
            return;
        queued_.clear();
        for (const std::string& path : hooks.queued_pictures()) {
            // A pass asks once per file: a queued picture is never rewritten.
            auto [known, added] = queued_paths_.try_emplace(path);
            if (added)
                known->second = Id_Of(path);
            if (known->second)
                queued_.insert(*known->second);
        }
    }
    bool Current_Episode(const File_Id& id) const { return current_ && *current_ == id; }
    // Unknown by its identity when it does not exist yet: then by its name,
    // for it may be made at any moment.
    bool Current_Day(const File_Id& id, const std::string& name) const {
        return current_day_ ? *current_day_ == id
                            : !current_day_name_.empty() && name == current_day_name_;
    }
    bool Fixed(const File_Id& id) const { return fixed_ && *fixed_ == id; }
    bool Queued(const File_Id& id) const { return queued_.count(id) > 0; }

private:
    std::optional<File_Id> current_;
    std::optional<File_Id> current_day_;
    std::string current_day_name_;
    std::optional<File_Id> fixed_;
    std::unordered_map<std::string, std::optional<File_Id>> queued_paths_;
    std::unordered_set<File_Id, File_Id_Hash> queued_;
};

size_t Count_Own_Pictures(const std::string& folder, const std::function<bool()>& stopping) {
    const Folder_Handle episode(AT_FDCWD, folder, true);
    if (!episode.Open())
        return 0;
    const std::vector<std::string> files = Entries(episode.Fd(), false, stopping);
    return static_cast<size_t>(std::count_if(files.begin(), files.end(), Is_Picture_Name));
}

} // namespace

std::optional<Disk_Space> Measure_Disk_Space(const std::string& folder) noexcept {
    try {
        std::filesystem::path path = std::filesystem::path(folder).lexically_normal();
        for (;;) {
            struct statvfs info {};
            if (::statvfs(path.c_str(), &info) == 0)
                return Space_Of(info);
            if (errno != ENOENT || !path.has_relative_path())
                return std::nullopt;
            path = path.has_filename() ? path.parent_path() : path.parent_path().parent_path();
        }
    } catch (...) {
        return std::nullopt;
    }
}

Keep_Free_Outcome Keep_Free_Space(const std::function<Keeper_Inputs()>& inputs,
                                  const Keeper_Hooks& hooks) noexcept {
    Free_Space_Ledger ledger;
    return Keep_Free_Space(inputs, hooks, ledger);
}

bool Holds_Day_Folder(const std::string& folder) noexcept {
    try {
        const Folder_Handle dest(AT_FDCWD, folder, true);
        if (!dest.Open())
            return false;
        const std::vector<std::string> folders = Entries(dest.Fd(), true, [] { return false; });
        return std::any_of(folders.begin(), folders.end(), Is_Day_Folder_Name);
    } catch (...) {
        return false;
    }
}

Keep_Free_Outcome Keep_Free_Space(const std::function<Keeper_Inputs()>& inputs,
                                  const Keeper_Hooks& hooks, Free_Space_Ledger& ledger,
                                  bool may_delete) noexcept {
    Keep_Free_Outcome out;
    try {
        Keeper_Inputs in = inputs();
        out.dest_folder = in.dest_folder;
        out.keep_free_bytes = in.keep_free_bytes;
        if (in.keep_free_bytes == 0 || in.dest_folder.empty()) {
            ledger.Clear();
            return out;
        }
        const uint64_t keep = in.keep_free_bytes;
        const std::string dest = With_Slash(in.dest_folder);
        const auto stopping = [&] { return hooks.stopping && hooks.stopping(); };
        const auto now = [&] { return hooks.now ? hooks.now() : Keeper_Clock::now(); };
        out.state = Keeper_State::Unknown;
        out.enough_room = false;

        const Folder_Handle dest_folder(AT_FDCWD, dest, true);
        if (!dest_folder.Open())
            return out;
        const auto measure = [&]() -> std::optional<Disk_Space> {
            if (hooks.measure)
                return hooks.measure(dest);
            struct statvfs info {};
            if (::fstatvfs(dest_folder.Fd(), &info) != 0)
                return std::nullopt;
            return Space_Of(info);
        };
        const auto sync = [&] {
            if (hooks.sync)
                hooks.sync(dest_folder.Fd());
            else
                Sync_With_Limit(dest_folder.Fd(), stopping);
        };
        // The free space to plan with, once `measured` is known; what earlier
        // deletions should still bring counts.
        uint64_t free_before = 0;
        const auto settle = [&](const Disk_Space& measured) {
            out.free_bytes = free_before = measured.free;
            ledger.Measured(measured.free);
            if (measured.free >= keep)
                ledger.Clear();
            out.outstanding_bytes = ledger.Outstanding_Bytes();
            return ledger.Planning_Free(measured.free);
        };
        const auto room = [&] {
            out.state = Keeper_State::Room;
            out.enough_room = true;
            return out;
        };

        std::optional<Disk_Space> space = measure();
        if (!space)
            return out;
        out.disk_bytes = space->size;
        if (!Keep_Free_Fits(keep, space->size)) {
            ledger.Clear();
            out.state = Keeper_State::Target_Too_Big;
            return out;
        }
        uint64_t planning = settle(*space);
        if (planning >= keep && !ledger.Not_Showing(now()))
            return room();
        // Space freed a moment ago may show only once the file system commits.
        sync();
        if (!(space = measure()))
            return out;
        planning = settle(*space);
        // Deleting more would only delete the same shortfall again.
        if (ledger.Not_Showing(now())) {
            out.state = Keeper_State::Not_Showing;
            return out;
        }
        if (planning >= keep)
            return room();

        const uint64_t goal = Deletion_Goal(keep);
        uint64_t batch = 0; // what the deletions since the last measurement should free
        bool unknown = false;
        // Measures once a batch should have reached the goal; true when it did.
        const auto measure_batch = [&] {
            sync();
            ledger.Deleted(free_before, batch, now());
            batch = 0;
            space = measure();
            if (!space) {
                unknown = true;
                return true;
            }
            planning = settle(*space);
            return planning >= goal;
        };
        Kept_Files kept;
        const auto remove_day = [&](int dest_fd, int day_fd, const std::string& day) {
            // Read just before: the recording may have begun a day meanwhile.
            kept.Refresh(inputs());
            const std::optional<File_Id> id = Id_Of(day_fd);
            if (id && !kept.Current_Day(*id, day))
                ::unlinkat(dest_fd, day.c_str(), AT_REMOVEDIR); // only when empty
        };

        std::vector<std::string> days = Entries(dest_folder.Fd(), true, stopping);
        std::erase_if(days,
                      [&](const std::string& d) { return !may_delete || !Is_Day_Folder_Name(d); });
        std::sort(days.begin(), days.end()); // the names sort by date
        for (const std::string& day : days) {
            const Folder_Handle day_folder(dest_folder.Fd(), day);
            if (!day_folder.Open())
                continue;
            for (const std::string& name : Episodes_Oldest_First(day_folder.Fd(), stopping)) {
                if (stopping())
                    return out;
                // Read again for each episode: the recording may have moved
                // on, and what it recorded since was queued before it did.
                in = inputs();
                kept.Refresh(in);
                kept.Refresh_Queued(hooks);
                const Folder_Handle episode(day_folder.Fd(), name);
                if (!episode.Open())
                    continue;
                const std::optional<File_Id> episode_id = Id_Of(episode.Fd());
                if (!episode_id || kept.Current_Episode(*episode_id))
                    continue;
                for (const std::string& file : Own_Files_Oldest_First(episode.Fd(), stopping)) {
                    if (stopping())
                        return out;
                    struct stat st {};
                    if (::fstatat(episode.Fd(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                        !S_ISREG(st.st_mode))
                        continue;
                    const File_Id id = Id_Of(st);
                    if (kept.Fixed(id)) {
                        out.kept.fixed = true;
                        continue;
                    }
                    if (kept.Queued(id)) {
                        ++out.kept.queued;
                        continue;
                    }
                    // A temporary another write may still be filling is left
                    // for a later pass.
                    if (Is_Picture_Temporary_Name(file) && std::time(nullptr) - st.st_mtime < 60) {
                        ++out.kept.young_temporaries;
                        continue;
                    }
                    if (::unlinkat(episode.Fd(), file.c_str(), 0) != 0)
                        continue;
                    ++out.files_deleted;
                    if (st.st_nlink <= 1)
                        batch += static_cast<uint64_t>(st.st_blocks) * 512;
                    if (planning + batch >= goal && measure_batch()) {
                        if (unknown)
                            return out;
                        ::unlinkat(day_folder.Fd(), name.c_str(), AT_REMOVEDIR);
                        remove_day(dest_folder.Fd(), day_folder.Fd(), day);
                        return room();
                    }
                }
                ::unlinkat(day_folder.Fd(), name.c_str(), AT_REMOVEDIR);
            }
            remove_day(dest_folder.Fd(), day_folder.Fd(), day);
        }
        if (batch > 0 && (measure_batch(), unknown))
            return out;
        if (planning >= keep)
            return room();
        out.state = Keeper_State::Short;
        if (!in.current_episode.empty())
            out.kept.current = Count_Own_Pictures(in.current_episode, stopping);
    } catch (...) {
        out.enough_room = false;
    }
    return out;
}

} // namespace vistrel
