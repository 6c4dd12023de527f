// Keeping free space on the destination disk (see keep_free_pass.h for what
// a pass deletes). The passes run on a thread of its own; the sampling tick
// only hands it the latest state and never waits for it. Only one keeper,
// of whatever Vistrel, works in a destination folder at a time.
#pragma once

#include "recording/destination_lock.h"
#include "recording/free_space_plan.h"
#include "recording/keep_free_pass.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vistrel {

// Runs the passes, at most one per `interval`.
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
    // The last pass's outcome in words, for the Storage dialog.
    std::string Status_Text() const;
    // What the user should be told since the last call: once when a problem
    // begins, again only after it went away or changed.
    std::optional<std::string> Take_Notice() noexcept;

private:
    void Run() noexcept;
    Keeper_Inputs Inputs() const;
    Keep_Free_Outcome Pass(const Keeper_Inputs& inputs);
    void Told(const Keep_Free_Outcome& outcome);

    Keeper_Hooks hooks_;
    const std::chrono::milliseconds interval_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Keeper_Inputs inputs_;              // guarded by mutex_
    bool updated_ = false;              // guarded by mutex_
    bool waiting_for_update_ = false;   // guarded by mutex_
    bool stop_ = false;                 // guarded by mutex_
    Keep_Free_Outcome outcome_;         // guarded by mutex_
    uint64_t passes_ = 0;               // guarded by mutex_
    std::optional<std::string> notice_; // guarded by mutex_
    std::optional<Keeper_State> told_;  // guarded by mutex_
    // The keeper's thread alone uses these.
    std::unique_ptr<Destination_Lock> lock_;
    Free_Space_Ledger ledger_;
    std::string ledger_dest_;
    uint64_t ledger_keep_ = 0;
    std::thread thread_; // last: starts once the rest is ready
};

} // namespace vistrel
