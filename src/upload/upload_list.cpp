#include "upload/upload_list.h"

#include <algorithm>

namespace vistrel {

void Upload_List::Append(TFichier entry) {
    std::lock_guard lock(Files_Lock);
    entry.Sent = false;
    Files.push_back({std::move(entry), next_journal_id_++, false});
    ++appended_;
    ++unsent_;
    if (journal_)
        journal_->Appended(Files.back().journal_id, Files.back().entry);
}

void Upload_List::Restore(const std::vector<Journaled>& entries, uint64_t next_journal_id) {
    std::lock_guard lock(Files_Lock);
    std::deque<Slot> restored;
    for (const Journaled& journaled : entries) {
        restored.push_back({journaled.entry, journaled.journal_id, false, journaled.refusals});
        restored.back().entry.Sent = false;
    }
    // Before the entries of this run, which keep their places after them.
    for (Slot& slot : Files)
        restored.push_back(std::move(slot));
    Files = std::move(restored);
    appended_ += entries.size();
    unsent_ += entries.size();
    next_unsent_ = first_id_;
    first_refused_.reset();
    next_journal_id_ = std::max(next_journal_id_, next_journal_id);
}

void Upload_List::Begin_Run() {
    std::lock_guard lock(Files_Lock);
    ++run_;
    if (first_refused_ && *first_refused_ < next_unsent_)
        next_unsent_ = std::max(*first_refused_, first_id_);
    first_refused_.reset();
}

void Upload_List::Attach_Journal(Upload_Journal* journal) {
    std::lock_guard lock(Files_Lock);
    journal_ = journal;
}

std::optional<Upload_List::Taken> Upload_List::Take_First_Unsent() {
    std::lock_guard lock(Files_Lock);
    // Entries are only appended and only put back at the front of the waiting
    // ones, so the first waiting entry is found from the cursor on; those
    // behind it that were refused during this run wait for the next.
    for (Entry_Id id = next_unsent_; id < first_id_ + Files.size(); ++id) {
        Slot& slot = Files[static_cast<size_t>(id - first_id_)];
        if (!slot.entry.Sent && slot.refused_in_run != run_) {
            slot.entry.Sent = true;
            --unsent_;
            next_unsent_ = id + 1;
            return Taken{id, slot.entry};
        }
    }
    next_unsent_ = first_id_ + Files.size();
    return std::nullopt;
}

void Upload_List::Put_Back(Entry_Id id) {
    std::lock_guard lock(Files_Lock);
    if (id < first_id_ || id >= first_id_ + Files.size())
        return;
    Slot& slot = Files[static_cast<size_t>(id - first_id_)];
    if (!slot.entry.Sent || slot.finished)
        return;
    slot.entry.Sent = false;
    ++unsent_;
    if (id < next_unsent_)
        next_unsent_ = id;
}

uint32_t Upload_List::Refuse(Entry_Id id) {
    std::lock_guard lock(Files_Lock);
    if (id < first_id_ || id >= first_id_ + Files.size())
        return 0;
    Slot& slot = Files[static_cast<size_t>(id - first_id_)];
    if (slot.finished)
        return slot.refusals;
    // One run counts once, however often it is refused in it.
    if (slot.refused_in_run != run_) {
        ++slot.refusals;
        slot.refused_in_run = run_;
        if (journal_)
            journal_->Refused(slot.journal_id, slot.refusals);
    }
    if (slot.entry.Sent) {
        slot.entry.Sent = false;
        ++unsent_;
    }
    if (!first_refused_ || id < *first_refused_)
        first_refused_ = id;
    return slot.refusals;
}

void Upload_List::Finish(Entry_Id id) {
    std::lock_guard lock(Files_Lock);
    if (id < first_id_ || id >= first_id_ + Files.size())
        return;
    Finish_Slot(Files[static_cast<size_t>(id - first_id_)]);
    Release_Finished_Front();
}

size_t Upload_List::Forget_Folder(const std::string& relative_folder) {
    std::lock_guard lock(Files_Lock);
    size_t forgotten = 0;
    for (Slot& slot : Files)
        if (!slot.finished && !slot.entry.Sent && slot.entry.Folder == relative_folder) {
            Finish_Slot(slot);
            ++forgotten;
        }
    Release_Finished_Front();
    return forgotten;
}

void Upload_List::Finish_Slot(Slot& slot) {
    if (slot.finished)
        return;
    slot.finished = true;
    if (!slot.entry.Sent) {
        slot.entry.Sent = true;
        --unsent_;
    }
    if (journal_)
        journal_->Finished(slot.journal_id);
}

void Upload_List::Release_Finished_Front() {
    // A run that records for weeks must not keep every name it ever sent.
    while (!Files.empty() && Files.front().finished) {
        Files.pop_front();
        ++first_id_;
    }
    if (next_unsent_ < first_id_)
        next_unsent_ = first_id_;
}

bool Upload_List::Ever_Appended() const {
    std::lock_guard lock(Files_Lock);
    return appended_ > 0;
}

size_t Upload_List::Unsent_Count() const {
    std::lock_guard lock(Files_Lock);
    return unsent_;
}

std::optional<Upload_List::Entry_Id>
Upload_List::Visit_Unfinished(Entry_Id from, size_t most,
                              const std::function<void(uint64_t, const TFichier&)>& visit) const {
    return Visit_Journaled(from, most,
                           [&visit](const Journaled& j) { visit(j.journal_id, j.entry); });
}

std::optional<Upload_List::Entry_Id>
Upload_List::Visit_Journaled(Entry_Id from, size_t most,
                             const std::function<void(const Journaled&)>& visit) const {
    std::lock_guard lock(Files_Lock);
    Entry_Id id = std::max(from, first_id_);
    for (size_t visited = 0; id < first_id_ + Files.size(); ++id) {
        if (visited == most)
            return id;
        const Slot& slot = Files[static_cast<size_t>(id - first_id_)];
        if (!slot.finished) {
            visit({slot.journal_id, slot.entry, slot.refusals});
            ++visited;
        }
    }
    return std::nullopt;
}

std::vector<TFichier> Upload_List::Snapshot() const {
    std::lock_guard lock(Files_Lock);
    std::vector<TFichier> copy;
    copy.reserve(Files.size());
    for (const Slot& slot : Files)
        copy.push_back(slot.entry);
    return copy;
}

} // namespace vistrel
