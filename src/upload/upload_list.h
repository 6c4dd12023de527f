// The pictures waiting to be sent, in recording order, shared between the
// sampling tick (which appends) and the upload worker (which sends them one
// at a time, oldest first). A journal, when attached, hears of every change,
// so that what waits can outlive the program.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
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

// Hears of the changes of an upload list, under the list's lock and in their
// order; it must not call back into the list. Entries are named by journal
// ids, which, unlike the list's own, go on from one run to the next.
class Upload_Journal {
public:
    virtual ~Upload_Journal() = default;
    virtual void Appended(uint64_t journal_id, const TFichier& entry) noexcept = 0;
    // The entry needs no more sending.
    virtual void Finished(uint64_t journal_id) noexcept = 0;
    // The server has refused the entry `refusals` times in all.
    virtual void Refused(uint64_t journal_id, uint32_t refusals) noexcept = 0;
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

    struct Journaled {
        uint64_t journal_id;
        TFichier entry;
        uint32_t refusals = 0; // by the server, in earlier runs
    };
    // Entries left unsent by an earlier run, before anything is appended:
    // they come first, in the order given, under their journal ids, and the
    // entries appended later get journal ids from `next_journal_id` on. The
    // journal is not told.
    void Restore(const std::vector<Journaled>& entries, uint64_t next_journal_id);

    // Every later change is told to `journal` (nullptr: to nobody).
    void Attach_Journal(Upload_Journal* journal);

    // A new run of the worker: the entries refused during the last one are
    // offered again.
    void Begin_Run();

    // The first entry neither taken nor refused during this run, now marked
    // as taken; nothing when there is none.
    std::optional<Taken> Take_First_Unsent();

    // The run that took the entry could not finish it: it becomes the first
    // entry to send again.
    void Put_Back(Entry_Id id);

    // The server refused the entry the run took: it waits again, in its
    // place, but only the next run offers it. Gives how many times it was
    // refused in all, this one included.
    uint32_t Refuse(Entry_Id id);

    // The entry needs no more sending (it arrived, or the server refused it
    // for good); finished entries at the front are released.
    void Finish(Entry_Id id);

    // The entries of one folder ("RIDEV_2026_12_10/D0004/") need no more
    // sending, as if finished, but the one the worker has taken, which it
    // finishes itself. Gives how many.
    size_t Forget_Folder(const std::string& relative_folder);

    // Whether anything was ever appended or restored during this run.
    bool Ever_Appended() const;

    // Entries neither taken nor finished.
    size_t Unsent_Count() const;

    // Calls `visit` for up to `most` entries not finished, in order, with
    // their journal ids, from the entry `from` on (or the first still held);
    // gives where to go on, or nothing once the end is reached. The lock is
    // held for one call only, so that a long list is walked in pieces.
    std::optional<Entry_Id>
    Visit_Unfinished(Entry_Id from, size_t most,
                     const std::function<void(uint64_t, const TFichier&)>& visit) const;
    // The same, with each entry's count of refusals.
    std::optional<Entry_Id>
    Visit_Journaled(Entry_Id from, size_t most,
                    const std::function<void(const Journaled&)>& visit) const;

    // A copy of the entries still held, for display and tests.
    std::vector<TFichier> Snapshot() const;

private:
    struct Slot {
        TFichier entry;
        uint64_t journal_id = 0;
        bool finished = false;
        uint32_t refusals = 0;
        uint64_t refused_in_run = 0; // 0: in none
    };

    // Both under Files_Lock.
    void Finish_Slot(Slot& slot);
    void Release_Finished_Front();

    mutable std::mutex Files_Lock;
    std::deque<Slot> Files; // guarded by Files_Lock
    Entry_Id first_id_ = 0; // id of Files.front()
    // No entry before it is waiting, but those refused during this run.
    Entry_Id next_unsent_ = 0;
    uint64_t run_ = 1;
    // The first entry refused during this run, where the next run starts.
    std::optional<Entry_Id> first_refused_;
    uint64_t appended_ = 0;
    size_t unsent_ = 0;
    uint64_t next_journal_id_ = 0;
    Upload_Journal* journal_ = nullptr;
};

} // namespace vistrel
