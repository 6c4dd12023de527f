// How much the free-space keeper deletes, and what it tells the user, free of
// the file system: the keeper's passes measure and delete, this decides.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vistrel {

using Keeper_Clock = std::chrono::steady_clock;

struct Disk_Space {
    uint64_t free = 0; // available to the program
    uint64_t size = 0; // the whole file system
};

// More than half of a disk is never kept free: a target the disk can hardly
// reach would have every pass delete all it may.
uint64_t Most_Keep_Free_Bytes(uint64_t disk_bytes);
bool Keep_Free_Fits(uint64_t keep_free_bytes, uint64_t disk_bytes);

// A pass that has to delete frees a little more than the target, so that it
// does not run again for every picture recorded, and so that what it freed
// stands out from what the recording writes meanwhile.
uint64_t Deletion_Goal(uint64_t keep_free_bytes);

// The space deletions should give back and that the file system does not
// show yet (btrfs and ZFS show it when their transaction commits; a snapshot
// still holding the pictures never does). Carried from pass to pass, so that
// the same shortfall is not deleted again and again.
class Free_Space_Ledger {
public:
    static constexpr std::chrono::seconds kShow_Limit{60};

    // Files taking `bytes` were deleted when `free_before` was free.
    void Deleted(uint64_t free_before, uint64_t bytes, Keeper_Clock::time_point when);
    // A new measurement: once it shows most of what was deleted, nothing is
    // outstanding any more.
    void Measured(uint64_t free_bytes);
    // The free space to plan with: what the outstanding deletions will bring.
    uint64_t Planning_Free(uint64_t measured) const;
    uint64_t Outstanding_Bytes() const { return bytes_; }
    // Deletions have been outstanding for longer than the limit: deleting
    // more would only delete the same shortfall again.
    bool Not_Showing(Keeper_Clock::time_point now) const;
    void Clear();

private:
    uint64_t base_free_ = 0;
    uint64_t bytes_ = 0;
    std::optional<Keeper_Clock::time_point> since_;
};

enum class Keeper_State {
    Off,            // no free space to keep
    Room,           // enough is free, or will be once deletions show
    Short,          // all that may go went, and it is not enough
    Not_Showing,    // deletions did not show within a minute: deleting stopped
    Target_Too_Big, // more than half the disk: taken as no target
    Other_Keeper,   // another Vistrel keeps free space in the same folder
    No_Lock,        // the folder's lock could not be taken
    Unknown,        // the folder or its free space cannot be read
};

// What a pass left on the disk that it would otherwise have deleted.
struct Kept_Pictures {
    size_t queued = 0;            // still waiting for the upload
    size_t current = 0;           // of the episode being recorded
    bool fixed = false;           // the fixed-name picture
    size_t young_temporaries = 0; // writes maybe still going on
};

struct Keep_Free_Outcome {
    Keeper_State state = Keeper_State::Off;
    size_t files_deleted = 0;
    bool enough_room = true; // false: the target is not met and the keeper cannot help it
    std::string dest_folder;
    uint64_t keep_free_bytes = 0;
    uint64_t free_bytes = 0;
    uint64_t disk_bytes = 0;
    uint64_t outstanding_bytes = 0; // deleted, not shown yet
    Kept_Pictures kept;
    std::string reason; // why the lock could not be taken
};

// "1.2 GB", "350.0 MB": one decimal, a dot whatever the locale.
std::string Size_Text(uint64_t bytes);

// The outcome in plain words, for the Storage dialog; empty when off.
std::string Keeper_Status_Text(const Keep_Free_Outcome& outcome);

// States the user is told of once, when they begin, as a tray notice.
bool Worth_A_Notice(Keeper_State state);

} // namespace vistrel
