#include "recording/destination_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vistrel {

Destination_Lock::Destination_Lock(const std::string& dest_folder) noexcept {
    try {
        folder_ = dest_folder;
        std::string path = dest_folder;
        if (!path.empty() && path.back() != '/')
            path += '/';
        path += kFile_Name;
        // Read-only is enough for flock, and lets two users share the folder.
        // No link is followed: the lock is made here or nowhere.
        fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd_ < 0) {
            reason_ = "its lock file cannot be made: " + std::string(std::strerror(errno));
            return;
        }
        // Locks belong to the open file, so a second keeper of this very
        // process is refused as one of another process is.
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            result_ = Result::Held;
            return;
        }
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        if (error == EWOULDBLOCK) {
            result_ = Result::Held_Elsewhere;
            reason_ = "another Vistrel keeps free space there";
        } else {
            reason_ = "its lock file cannot be locked: " + std::string(std::strerror(error));
        }
    } catch (...) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        result_ = Result::Failed;
    }
}

Destination_Lock::~Destination_Lock() {
    // Closing releases the lock; the file stays, since removing it would let
    // a keeper that opened it just before lock a file no other one sees.
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace vistrel
