#include "recording/free_space_plan.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace vistrel {

namespace {

constexpr uint64_t kMost_Extra_Bytes = 256ull * 1000 * 1000;

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += i + 1 == parts.size() ? " and " : ", ";
        text += parts[i];
    }
    return text;
}

std::string Count_Text(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Kept_Text(const Kept_Pictures& kept) {
    std::vector<std::string> parts;
    if (kept.queued > 0)
        parts.push_back(Count_Text(kept.queued, "picture", "pictures") +
                        " still waiting to be uploaded");
    if (kept.current > 0)
        parts.push_back(Count_Text(kept.current, "picture", "pictures") +
                        " of the episode being recorded");
    if (kept.fixed)
        parts.push_back("the fixed-name picture");
    if (kept.young_temporaries > 0)
        parts.push_back(Count_Text(kept.young_temporaries, "picture", "pictures") +
                        " still being written");
    if (parts.empty())
        return "No picture of Vistrel's is left to delete; the rest of the disk holds other "
               "files, which it never deletes.";
    return "Kept: " + Joined(parts) + ". Other files on the disk are never deleted.";
}

} // namespace

uint64_t Most_Keep_Free_Bytes(uint64_t disk_bytes) {
    return disk_bytes / 2;
}

bool Keep_Free_Fits(uint64_t keep_free_bytes, uint64_t disk_bytes) {
    return keep_free_bytes <= Most_Keep_Free_Bytes(disk_bytes);
}

uint64_t Deletion_Goal(uint64_t keep_free_bytes) {
    return keep_free_bytes + std::min(keep_free_bytes / 20, kMost_Extra_Bytes);
}

void Free_Space_Ledger::Deleted(uint64_t free_before, uint64_t bytes,
                                Keeper_Clock::time_point when) {
    if (bytes == 0)
        return;
    if (bytes_ == 0) {
        base_free_ = free_before;
        since_ = when;
    }
    bytes_ += bytes;
}

void Free_Space_Ledger::Measured(uint64_t free_bytes) {
    // Half is enough to tell a file system that shows frees from one that
    // holds them back: the recording writes on meanwhile.
    if (bytes_ > 0 && free_bytes >= base_free_ + (bytes_ + 1) / 2)
        Clear();
}

uint64_t Free_Space_Ledger::Planning_Free(uint64_t measured) const {
    return bytes_ == 0 ? measured : std::max(measured, base_free_ + bytes_);
}

bool Free_Space_Ledger::Not_Showing(Keeper_Clock::time_point now) const {
    return bytes_ > 0 && since_ && now - *since_ >= kShow_Limit;
}

void Free_Space_Ledger::Clear() {
    base_free_ = 0;
    bytes_ = 0;
    since_.reset();
}

std::string Size_Text(uint64_t bytes) {
    const bool gigabytes = bytes >= 100ull * 1000 * 1000;
    const double value = static_cast<double>(bytes) / (gigabytes ? 1e9 : 1e6);
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return std::string(text, end.ptr) + (gigabytes ? " GB" : " MB");
}

std::string Keeper_Status_Text(const Keep_Free_Outcome& o) {
    const std::string where = o.dest_folder;
    switch (o.state) {
    case Keeper_State::Off:
        return "";
    case Keeper_State::Room:
        if (o.outstanding_bytes > 0)
            return Size_Text(o.free_bytes) + " free on the disk of " + where + "; " +
                   Size_Text(o.outstanding_bytes) +
                   " more should show soon from pictures just deleted.";
        return Size_Text(o.free_bytes) + " free on the disk of " + where + ".";
    case Keeper_State::Short:
        return "Only " + Size_Text(o.free_bytes) + " free on the disk of " + where +
               ", less than the " + Size_Text(o.keep_free_bytes) + " to keep free. " +
               Kept_Text(o.kept);
    case Keeper_State::Not_Showing:
        return "Pictures deleted a minute ago have still not given back their space (a "
               "snapshot of the disk may hold them): " +
               Size_Text(o.free_bytes) + " free on the disk of " + where +
               ". Vistrel deletes no more until the space shows.";
    case Keeper_State::Target_Too_Big:
        return "Keeping " + Size_Text(o.keep_free_bytes) +
               " free is more than half of the disk of " + where + " (" + Size_Text(o.disk_bytes) +
               " in all), so Vistrel deletes nothing. " + "Choose at most " +
               Size_Text(Most_Keep_Free_Bytes(o.disk_bytes)) + ".";
    case Keeper_State::Other_Keeper:
        return "Another Vistrel keeps free space in " + where + "; this one deletes nothing.";
    case Keeper_State::No_Lock:
        return "Free space cannot be kept in " + where + " (" + o.reason +
               "); Vistrel deletes nothing.";
    case Keeper_State::Unknown:
        return "The free space of " + where + " cannot be read; Vistrel deletes nothing.";
    }
    return "";
}

bool Worth_A_Notice(Keeper_State state) {
    switch (state) {
    case Keeper_State::Short:
    case Keeper_State::Not_Showing:
    case Keeper_State::Target_Too_Big:
    case Keeper_State::Other_Keeper:
    case Keeper_State::No_Lock:
        return true;
    case Keeper_State::Off:
    case Keeper_State::Room:
    case Keeper_State::Unknown:
        return false;
    }
    return false;
}

} // namespace vistrel
