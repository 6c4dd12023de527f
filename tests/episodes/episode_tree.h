// Builds destination trees for the episode tests: folders and empty files
// under a fresh folder, with the times their folders last changed set at will.
#pragma once

#include "support/temp_dir.h"

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <sys/stat.h>

namespace vistrel::test {

class Episode_Tree {
public:
    std::string Dest() const { return dir_.Folder(); }
    std::string Path(const std::string& relative) const { return dir_.File(relative); }

    void Folder(const std::string& relative) const {
        std::filesystem::create_directories(dir_.Path() / relative);
    }
    // Files of one folder, which is made when missing.
    void Files(const std::string& folder, std::initializer_list<std::string> names) const {
        Folder(folder);
        for (const std::string& name : names)
            dir_.Write(folder + "/" + name, "");
    }
    // The time a folder last changed, in seconds since the epoch.
    void Changed_At(const std::string& relative, time_t seconds) const {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ::utimensat(AT_FDCWD, Path(relative).c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    bool Exists(const std::string& relative) const {
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::symlink_status(Path(relative), ec));
    }

private:
    Temp_Dir dir_;
};

} // namespace vistrel::test
