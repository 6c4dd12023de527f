// The pictures recorded during this run, in recording order, shared between
// the sampling tick (which appends) and the upload worker (which sends them
// one at a time, oldest first).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vistrel {

struct TFichier {
    std::string Path;   // full local path of the picture
    std::string Name;   // file name with ".jpg", also its name on the server
    std::string Folder; // day and episode folder below the destination, ends in "/"
    bool Sent = false;  // taken by the upload worker
};

class Upload_List {
public:
    // Identifies an entry taken for sending.
    using Entry_Id = uint64_t;
    struct Taken {
        Entry_Id id;
        TFichier entry;
    };

    void Append(TFichier entry);

    // The first entry not yet taken, now marked as taken; nothing when every
    // entry was taken.
    std::optional<Taken> Take_First_Unsent();

    // The run that took the entry could not finish it: it becomes the first
    // entry to send again.
    void Put_Back(Entry_Id id);

    // The entry needs no more sending (it arrived, or the server refused it
    // for good); finished entries at the front are released.
    void Finish(Entry_Id id);

    // Whether anything was ever appended during this run.
    bool Ever_Appended() const;

    size_t Unsent_Count() const;

    // A copy of the entries still held, for display and tests.
    std::vector<TFichier> Snapshot() const;

private:
    struct Slot {
        TFichier entry;
        bool finished = false;
    };

    mutable std::mutex Files_Lock;
    std::deque<Slot> Files;    // guarded by Files_Lock
    Entry_Id first_id_ = 0;    // id of Files.front()
    Entry_Id next_unsent_ = 0; // no entry before it is waiting
    uint64_t appended_ = 0;
};

} // namespace vistrel
