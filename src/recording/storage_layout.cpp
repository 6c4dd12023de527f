#include "recording/storage_layout.h"

#include "settings/text_helpers.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace vistrel {

namespace {

std::string Padded(int32_t value, int32_t width) {
    return Pad_Left(Int_To_Str(value, 0), width, "0");
}

// The counters are unsigned: 2147483648 and above are written as they are.
std::string Padded_Counter(uint32_t value, int32_t width) {
    return Pad_Left(std::to_string(value), width, "0");
}

// The number after an episode folder's letter, read as Str_To_Int reads
// numbers but over the whole range of the counters.
uint32_t Episode_Number(const std::string& text) {
    // Str_To_Float reads a comma as a point, where Str_To_Int sees no number.
    if (text.find(',') != std::string::npos)
        return 0;
    const double number = std::trunc(Str_To_Float(text));
    if (!(number >= 0 && number <= static_cast<double>(UINT32_MAX)))
        return 0;
    return static_cast<uint32_t>(number);
}

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

std::string Day_Folder_Name(const Local_Date_Time& date) {
    return "RIDEV_" + Padded(date.year, 4) + "_" + Padded(date.month, 2) + "_" +
           Padded(date.day, 2) + "/";
}

std::string Episode_Folder_Name(const std::string& letter, uint32_t number) {
    return letter + Padded_Counter(number, 4) + "/";
}

std::string Picture_File_Name(int hour, int minute, int second, uint32_t num_image) {
    return "I_" + Padded(hour, 2) + "_" + Padded(minute, 2) + "_" + Padded(second, 2) + "__" +
           Padded_Counter(num_image, 5);
}

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
            if (name.empty() || !it->is_directory(type_ec))
                continue;
            const uint32_t number = Episode_Number(name.substr(1));
            if (name[0] == 'D' && number > found.highest_d)
                found.highest_d = number;
            if (name[0] == 'R' && number > found.highest_r)
                found.highest_r = number;
        }
    } catch (...) {
    }
    return found;
}

} // namespace vistrel
