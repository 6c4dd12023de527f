#include "recording/storage_layout.h"

#include "base/text_helpers.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

namespace vistrel {

namespace {

// Opens the next episode folder when the current one is full, and returns the
// episode folder name to use.
std::string Episode_For_Picture(const std::string& letter, uint32_t& folder_number,
                                Recording_State& state, const Working_Settings& settings,
                                const std::string& day_relative, File_Counter& counter) {
    const int32_t count = counter.Count_Files(settings.Dest_Folder + day_relative +
                                              Episode_Folder_Name(letter, folder_number));
    if (count >= settings.Max_Files) {
        state.Num_Image = 0;
        ++folder_number;
    }
    return Episode_Folder_Name(letter, folder_number);
}

} // namespace

int32_t Listing_File_Counter::Count_Files(const std::string& folder) {
    return vistrel::Count_Files(folder);
}

Picture_Destination Next_Picture_Destination(Recording_State& state,
                                             const Working_Settings& settings,
                                             const Local_Date_Time& now) {
    Listing_File_Counter listing;
    return Next_Picture_Destination(state, settings, now, listing);
}

Picture_Destination Next_Picture_Destination(Recording_State& state,
                                             const Working_Settings& settings,
                                             const Local_Date_Time& now, File_Counter& counter) {
    const std::string day = Day_Folder_Name(now);
    std::string relative = day;
    if (state.Rec_Motion)
        relative += Episode_For_Picture("D", state.Num_Folder_D, state, settings, day, counter);
    if (state.Rec_Continuous)
        relative += Episode_For_Picture("R", state.Num_Folder_R, state, settings, day, counter);

    Picture_Destination dest;
    dest.file_name = Picture_File_Name(now.hour, now.minute, now.second, state.Num_Image);
    dest.full_folder = settings.Dest_Folder + relative;
    dest.relative_folder = relative;
    if (settings.Use_Same_File_Name) {
        dest.full_folder = settings.Dest_Folder;
        dest.file_name = settings.Fixed_File_Name;
    }
    return dest;
}

Episode_Counters Scan_Episode_Counters(const std::string& base_folder,
                                       const Local_Date_Time& today) noexcept {
    Episode_Counters found;
    try {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::directory_iterator it(fs::path(base_folder + "/" + Day_Folder_Name(today)), ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            std::error_code type_ec;
            const std::string name = it->path().filename().string();
            const std::optional<Episode_Folder_Parts> episode = Read_Episode_Counter(name);
            if (!episode || !it->is_directory(type_ec))
                continue;
            uint32_t& highest = episode->letter == 'D' ? found.highest_d : found.highest_r;
            highest = std::max(highest, episode->number);
        }
    } catch (...) {
    }
    return found;
}

} // namespace vistrel
