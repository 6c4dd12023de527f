// Keeping free space on the destination disk: when it runs short, the oldest
// pictures go, oldest day folder first, oldest episode first, until there is
// room again. Only the program's own files are ever deleted, and never the
// episode being recorded, a picture the upload still needs, or the
// fixed-name picture. Runs on a thread of its own; the sampling tick only
// hands it the latest state and never waits for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>

namespace vistrel {

// "RIDEV_2024_03_07", "D0003" or "R12345", "I_14_05_09__00012.jpg", and the
// temporary a write of such a picture makes beside it.
bool Is_Day_Folder_Name(const std::string& name);
bool Is_Episode_Folder_Name(const std::string& name);
bool Is_Picture_Name(const std::string& name);
bool Is_Picture_Temporary_Name(const std::string& name);

struct Keeper_Inputs {
    std::string dest_folder;      // ends in "/"
    uint64_t keep_free_bytes = 0; // 0: keeping is off
    std::string current_episode;  // full folder of the episode being recorded, or ""
    std::string fixed_picture;    // full path of the fixed-name picture, or ""
    bool uploading = false;       // the pictures the upload still needs are kept
};

struct Keep_Free_Outcome {
    size_t files_deleted = 0;
    bool enough_room = true; // false: everything that may go went, and it was not enough
};

struct Keeper_Hooks {
    // Bytes free for the program on the file system of the folder; nothing
    // when unknown (then nothing is deleted). statvfs when unset.
    std::function<std::optional<uint64_t>(const std::string& folder)> free_bytes;
    // Full paths of the pictures still waiting for the upload.
    std::function<std::unordered_set<std::string>()> queued_pictures;
    // Asked between deletions: the program is closing.
    std::function<bool()> stopping;
};

// One pass: deletes until `keep_free_bytes` are free or nothing more may go.
// `inputs` is read again before each episode, since recording goes on
// meanwhile. Never throws.
Keep_Free_Outcome Keep_Free_Space(const std::function<Keeper_Inputs()>& inputs,
                                  const Keeper_Hooks& hooks) noexcept;

// Runs the passes on its own thread, at most one per `interval`.
class Storage_Keeper {
public:
    explicit Storage_Keeper(Keeper_Hooks hooks,
                            std::chrono::milliseconds interval = std::chrono::seconds(5));
    // Stops a pass between two deletions and waits for the thread.
    ~Storage_Keeper();
    Storage_Keeper(const Storage_Keeper&) = delete;
    Storage_Keeper& operator=(const Storage_Keeper&) = delete;

    // The latest state of the recording; a pass follows when one is due.
    void Update(const Keeper_Inputs& inputs) noexcept;
    // The episode the recording is about to write into, told before its
    // first picture, so that no pass takes it for an old one.
    void Set_Current_Episode(const std::string& folder) noexcept;

    // The outcome of the last pass and how many ran, for the window and tests.
    Keep_Free_Outcome Last_Outcome() const;
    uint64_t Passes() const;

private:
    void Run() noexcept;
    Keeper_Inputs Inputs() const;

    Keeper_Hooks hooks_;
    const std::chrono::milliseconds interval_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Keeper_Inputs inputs_;            // guarded by mutex_
    bool updated_ = false;            // guarded by mutex_
    bool waiting_for_update_ = false; // guarded by mutex_
    bool stop_ = false;               // guarded by mutex_
    Keep_Free_Outcome outcome_;       // guarded by mutex_
    uint64_t passes_ = 0;             // guarded by mutex_
    std::thread thread_;              // last: starts once the rest is ready
};

} // namespace vistrel
