#include "upload/upload_list.h"

namespace vistrel {

void Upload_List::Append(TFichier entry) {
    std::lock_guard lock(Files_Lock);
    entry.Sent = false;
    Files.push_back({std::move(entry), false});
    ++appended_;
}

std::optional<Upload_List::Taken> Upload_List::Take_First_Unsent() {
    std::lock_guard lock(Files_Lock);
    // Entries are only appended and only put back at the front of the waiting
    // ones, so the first waiting entry is found from the cursor on.
    for (Entry_Id id = next_unsent_; id < first_id_ + Files.size(); ++id) {
        Slot& slot = Files[static_cast<size_t>(id - first_id_)];
        if (!slot.entry.Sent) {
            slot.entry.Sent = true;
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
    Files[static_cast<size_t>(id - first_id_)].entry.Sent = false;
    if (id < next_unsent_)
        next_unsent_ = id;
}

void Upload_List::Finish(Entry_Id id) {
    std::lock_guard lock(Files_Lock);
    if (id < first_id_ || id >= first_id_ + Files.size())
        return;
    Files[static_cast<size_t>(id - first_id_)].finished = true;
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
    size_t count = 0;
    for (const Slot& slot : Files)
        count += !slot.entry.Sent;
    return count;
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
