// One pass of the free-space keeper over the destination folder: when the
// disk runs short, the oldest pictures go, oldest day folder first, oldest
// episode first, until there is room again. Only the program's own files are
// ever deleted, and never the episode being recorded or its day folder, a
// picture still waiting for the upload, or the fixed-name picture; these are
// recognised by device and inode, whatever path names them.
#pragma once

#include "recording/free_space_plan.h"
#include "recording/picture_folders.h"

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

namespace vistrel {

struct Keeper_Inputs {
    std::string dest_folder;      // ends in "/"
    uint64_t keep_free_bytes = 0; // 0: keeping is off
    std::string current_episode;  // full folder of the episode being recorded, or ""
    std::string fixed_picture;    // full path of the fixed-name picture, or ""
};

struct Keeper_Hooks {
    // The free space and size of the file system of the folder; nothing when
    // unknown (then nothing is deleted). statvfs when unset.
    std::function<std::optional<Disk_Space>(const std::string& folder)> measure;
    // Full paths of the pictures still waiting for the upload, whether
    // uploading is on or off: they are kept either way.
    std::function<std::unordered_set<std::string>()> queued_pictures;
    // Asked between deletions: the program is closing.
    std::function<bool()> stopping;
    // Has the file system of the folder open as `folder_fd` commit what it
    // holds back, so that freed space shows. syncfs when unset, waited for
    // no longer than a few seconds.
    std::function<void(int folder_fd)> sync = {};
    // The time that limits how long deletions may take to show. (The last two
    // have defaults, so that the hooks may be given in order without them.)
    std::function<Keeper_Clock::time_point()> now = {};
};

// The disk that holds `folder`, or would hold it once made: the nearest
// folder on its path that exists is measured.
std::optional<Disk_Space> Measure_Disk_Space(const std::string& folder) noexcept;

// Whether `folder` holds a day folder of the program's: until it does, a
// keeper there has nothing to delete and takes no lock.
bool Holds_Day_Folder(const std::string& folder) noexcept;

// One pass: deletes until a little more than `keep_free_bytes` is free, or
// nothing more may go. `inputs` is read again before each episode, since
// recording goes on meanwhile. `ledger` carries the deletions not shown yet
// from one pass to the next. Without `may_delete` it only measures and
// tells. Never throws.
Keep_Free_Outcome Keep_Free_Space(const std::function<Keeper_Inputs()>& inputs,
                                  const Keeper_Hooks& hooks, Free_Space_Ledger& ledger,
                                  bool may_delete = true) noexcept;
// A pass with nothing carried from an earlier one.
Keep_Free_Outcome Keep_Free_Space(const std::function<Keeper_Inputs()>& inputs,
                                  const Keeper_Hooks& hooks) noexcept;

} // namespace vistrel
