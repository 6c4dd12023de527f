// The number of files in the episode folder being recorded, as the rollover
// rule counts them, without listing a folder of thousands for every picture.
// The kernel reports each change of the folder (inotify): the program's own
// pictures add one each, and any other change, by whatever program, makes the
// next count list the folder again, so the count is always the listing's.
#pragma once

#include "recording/storage_layout.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

namespace vistrel {

// Whether the kernel sees every change of a folder on a file system of this
// type (statfs's f_type). Network shares change behind its back; FAT and
// exFAT drives are also written by other machines; FUSE may be either.
bool Changes_Are_All_Seen_Locally(int64_t file_system_type);

class Episode_File_Count : public File_Counter {
public:
    // `trusted` says whether a folder's changes can be followed; the listing is
    // used for those where it says no. The default asks statfs.
    explicit Episode_File_Count(std::function<bool(const std::string& folder)> trusted = {});
    ~Episode_File_Count() override;
    Episode_File_Count(const Episode_File_Count&) = delete;
    Episode_File_Count& operator=(const Episode_File_Count&) = delete;

    int32_t Count_Files(const std::string& folder) override;

    // The program is about to write `file_name` into `folder` in one step
    // (a temporary renamed into place); that write then counts as one file
    // more, or none when it replaces a file.
    void Before_Own_Write(const std::string& folder, const std::string& file_name);

private:
    void Follow(const std::string& folder);
    void Stop_Following();
    void Read_Changes();
    void Apply(uint32_t mask, const std::string& name);

    int notify_fd_ = -1;
    int watch_ = -1;
    std::string folder_;
    std::function<bool(const std::string&)> trusted_;
    dev_t watched_device_ = 0;
    ino_t watched_inode_ = 0;
    int32_t count_ = 0;
    bool recount_ = false;
    std::string own_name_;
    bool own_pending_ = false;
    bool own_is_new_ = false;
};

} // namespace vistrel
