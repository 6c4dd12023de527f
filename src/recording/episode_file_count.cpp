#include "recording/episode_file_count.h"

#include "base/file_helpers.h"
#include "base/text_helpers.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace vistrel {

namespace {

bool Statfs_Says_Seen_Locally(const std::string& folder) {
    struct statfs info {};
    return ::statfs(folder.c_str(), &info) == 0 &&
           Changes_Are_All_Seen_Locally(static_cast<int64_t>(info.f_type));
}

} // namespace

bool Changes_Are_All_Seen_Locally(int64_t file_system_type) {
    switch (static_cast<uint32_t>(file_system_type)) {
    case 0x4d44:     // FAT
    case 0x2011BAB0: // exFAT
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE (sshfs, and drives through ntfs-3g or exfat-fuse)
    case 0x01021997: // 9p
    case 0x00C36400: // Ceph
    case 0x5346414F: // AFS
    case 0x6B414653: // kAFS
    case 0x73757245: // Coda
    case 0x564C:     // NCP
    case 0x786F4256: // VirtualBox shared folders
    case 0x01161970: // GFS2: a cluster's other machines write it too
    case 0x7461636F: // OCFS2
    case 0x0BD00BD0: // Lustre
    case 0x47504653: // GPFS
        return false;
    default:
        return true;
    }
}

Episode_File_Count::Episode_File_Count(std::function<bool(const std::string&)> trusted)
    : notify_fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), trusted_(std::move(trusted)) {
    if (!trusted_)
        trusted_ = Statfs_Says_Seen_Locally;
}

Episode_File_Count::~Episode_File_Count() {
    if (notify_fd_ >= 0)
        ::close(notify_fd_);
}

int32_t Episode_File_Count::Count_Files(const std::string& folder) {
    if (notify_fd_ < 0)
        return vistrel::Count_Files(folder);
    // The watch follows the folder itself: when a parent was renamed or the
    // destination's link points elsewhere, the path now names another
    // folder (or none) and the counting starts again there.
    struct stat now {};
    const bool same_folder = watch_ >= 0 && folder == folder_ &&
                             ::stat(folder.c_str(), &now) == 0 && now.st_dev == watched_device_ &&
                             now.st_ino == watched_inode_;
    if (!same_folder)
        Follow(folder);
    else
        Read_Changes();
    if (watch_ < 0)
        return vistrel::Count_Files(folder);
    if (recount_) {
        // Whatever changed after this listing shows as a change at the next
        // count, so the listing and the changes after it never miss one.
        recount_ = false;
        count_ = vistrel::Count_Files(folder);
    }
    return count_;
}

void Episode_File_Count::Before_Own_Write(const std::string& folder, const std::string& file_name) {
    own_pending_ = false;
    if (watch_ < 0 || folder != folder_)
        return;
    struct stat existing {};
    own_is_new_ =
        ::fstatat(AT_FDCWD, (folder + file_name).c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0;
    own_name_ = file_name;
    own_pending_ = true;
}

void Episode_File_Count::Follow(const std::string& folder) {
    Stop_Following();
    folder_ = folder;
    // A folder not made yet holds nothing; it is followed from the count
    // after the first picture made it.
    if (!trusted_(folder))
        return;
    watch_ = ::inotify_add_watch(notify_fd_, folder.c_str(),
                                 IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    struct stat watched {};
    if (watch_ >= 0 && ::stat(folder.c_str(), &watched) != 0)
        Stop_Following();
    watched_device_ = watched.st_dev;
    watched_inode_ = watched.st_ino;
    recount_ = true;
}

void Episode_File_Count::Stop_Following() {
    if (watch_ >= 0)
        ::inotify_rm_watch(notify_fd_, watch_);
    watch_ = -1;
    own_pending_ = false;
}

void Episode_File_Count::Read_Changes() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(notify_fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return; // EAGAIN: nothing more has happened
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW)
                recount_ = true;
            else if (watch_ >= 0 && event->wd == watch_)
                Apply(event->mask, event->len > 0 ? std::string(event->name) : std::string());
        }
    }
}

void Episode_File_Count::Apply(uint32_t mask, const std::string& name) {
    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
        Stop_Following(); // the next count lists the folder where it is now
        return;
    }
    if (mask & IN_ISDIR)
        return; // folders never count
    if (own_pending_ && name.starts_with(own_name_) &&
        std::string_view(name).substr(own_name_.size()).starts_with(kTemporary_Marker)) {
        // The write's temporary: made, then renamed into place or removed.
        if (mask & IN_CREATE)
            ++count_;
        else if (mask & (IN_DELETE | IN_MOVED_FROM))
            --count_;
        else
            recount_ = true;
        return;
    }
    if (own_pending_ && name == own_name_ && (mask & IN_MOVED_TO)) {
        own_pending_ = false;
        if (own_is_new_)
            ++count_;
        return;
    }
    // Another program's change: a symbolic link may point at a folder, a
    // renamed file may replace one; only a listing tells.
    recount_ = true;
}

} // namespace vistrel
