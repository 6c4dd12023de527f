#include "episodes/episode_listing.h"

#include "recording/picture_folders.h"
#include "recording/picture_names.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>

namespace vistrel {

namespace {

bool Never_Stop() {
    return false;
}

bool Is_Calendar_Date(const Day_Folder_Parts& parts) {
    const std::chrono::year_month_day date{std::chrono::year(parts.year),
                                           std::chrono::month(static_cast<unsigned>(parts.month)),
                                           std::chrono::day(static_cast<unsigned>(parts.day))};
    return date.ok();
}

size_t Count_Episode_Folders(int day_fd) {
    const std::vector<std::string> folders = Entries(day_fd, true, Never_Stop);
    return static_cast<size_t>(
        std::count_if(folders.begin(), folders.end(),
                      [](const std::string& n) { return Is_Episode_Folder_Name(n); }));
}

struct Dated_Episode {
    Episode_Entry entry;
    int64_t changed_ns = 0;
};

int64_t Changed_Ns(int day_fd, const std::string& name) {
    struct stat st {};
    if (::fstatat(day_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

// One kind, highest number first. The merge then only compares the heads of
// the two kinds, so an older folder whose time moved on since (the free-space
// keeper took pictures from it) never passes newer ones of its kind.
void Order_Kind(std::vector<Dated_Episode>& kind) {
    std::sort(kind.begin(), kind.end(), [](const Dated_Episode& a, const Dated_Episode& b) {
        return std::tie(a.entry.number, a.entry.folder_name) >
               std::tie(b.entry.number, b.entry.folder_name);
    });
}

std::string With_Slash(const std::string& folder) {
    return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

} // namespace

std::vector<Day_Entry> List_Days(const std::string& dest_folder) {
    std::vector<Day_Entry> days;
    const Folder_Handle dest(AT_FDCWD, dest_folder, true);
    if (!dest.Open())
        return days;
    for (std::string& name : Entries(dest.Fd(), true, Never_Stop)) {
        const std::optional<Day_Folder_Parts> parts = Parse_Day_Folder_Name(name);
        if (!parts || !Is_Calendar_Date(*parts))
            continue;
        const Folder_Handle day(dest.Fd(), name);
        if (!day.Open())
            continue;
        const size_t episodes = Count_Episode_Folders(day.Fd());
        days.push_back({std::move(name), parts->year, parts->month, parts->day, episodes});
    }
    std::sort(days.begin(), days.end(), [](const Day_Entry& a, const Day_Entry& b) {
        return std::tie(a.year, a.month, a.day) > std::tie(b.year, b.month, b.day);
    });
    return days;
}

std::vector<Episode_Entry> List_Episodes(const std::string& dest_folder,
                                         const std::string& day_folder_name) {
    std::vector<Episode_Entry> episodes;
    const Folder_Handle dest(AT_FDCWD, dest_folder, true);
    if (!dest.Open())
        return episodes;
    const Folder_Handle day(dest.Fd(), day_folder_name);
    if (!day.Open())
        return episodes;
    std::vector<Dated_Episode> motion;
    std::vector<Dated_Episode> continuous;
    for (std::string& name : Entries(day.Fd(), true, Never_Stop)) {
        const std::optional<Episode_Folder_Parts> parts = Parse_Episode_Folder_Name(name);
        if (!parts)
            continue;
        const int64_t changed = Changed_Ns(day.Fd(), name);
        (parts->letter == 'D' ? motion : continuous)
            .push_back({{std::move(name), parts->letter, parts->number}, changed});
    }
    Order_Kind(motion);
    Order_Kind(continuous);
    episodes.reserve(motion.size() + continuous.size());
    auto d = motion.begin();
    auto r = continuous.begin();
    while (d != motion.end() || r != continuous.end()) {
        const bool take_d =
            r == continuous.end() || (d != motion.end() && d->changed_ns >= r->changed_ns);
        episodes.push_back(std::move((take_d ? d++ : r++)->entry));
    }
    return episodes;
}

std::string Episode_Folder_Path(const std::string& dest_folder, const std::string& day_folder_name,
                                const std::string& episode_folder_name) {
    return With_Slash(dest_folder) + day_folder_name + "/" + episode_folder_name;
}

std::string Episode_Relative_Folder(const std::string& day_folder_name,
                                    const std::string& episode_folder_name) {
    return day_folder_name + "/" + episode_folder_name + "/";
}

} // namespace vistrel
