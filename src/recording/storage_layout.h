// Where recorded pictures go and what they are called:
//   <destination>/RIDEV_2024_03_07/D0003/I_14_05_09__00012.jpg
// one folder per day, one sub-folder per episode (D for motion, R for
// continuous recording), and a file named after the time and picture number.
#pragma once

#include "recording/local_date_time.h"
#include "recording/picture_names.h"
#include "recording/recording_state.h"
#include "settings/working_settings.h"

#include <cstdint>
#include <string>

namespace vistrel {

struct Picture_Destination {
    std::string relative_folder; // day folder + episode folder, ends in "/"
    std::string full_folder;     // where the file is written, ends in "/"
    std::string file_name;       // without ".jpg"
};

// Counts the files of an episode folder for the rollover rule.
class File_Counter {
public:
    virtual ~File_Counter() = default;
    // As Count_Files: the entries that are not folders, 0 for a missing folder.
    virtual int32_t Count_Files(const std::string& folder) = 0;
};

// Lists the folder at every count.
class Listing_File_Counter : public File_Counter {
public:
    int32_t Count_Files(const std::string& folder) override;
};

// The destination of the picture a tick is about to record, after Num_Image
// was advanced for it. When the current episode folder already holds
// Max_Files files, the next episode folder is opened and the picture becomes
// number 0 there. In fixed-name mode the file goes straight into the
// destination folder under the fixed name; the relative folder stays dated.
Picture_Destination Next_Picture_Destination(Recording_State& state,
                                             const Working_Settings& settings,
                                             const Local_Date_Time& now, File_Counter& counter);
// The same, listing the episode folder.
Picture_Destination Next_Picture_Destination(Recording_State& state,
                                             const Working_Settings& settings,
                                             const Local_Date_Time& now);

struct Episode_Counters {
    uint32_t highest_d = 0;
    uint32_t highest_r = 0;
};

// The highest D and R episode numbers among the folders of the day folder of
// `today` under `base_folder`, so that a restarted program never reuses an
// episode number of the same day. Only directories count, read as
// Read_Episode_Counter reads them. A missing day folder gives zeros.
Episode_Counters Scan_Episode_Counters(const std::string& base_folder,
                                       const Local_Date_Time& today) noexcept;

// The destination folder used until the user picks one: "Vistrel" in the
// user's pictures folder.
std::string Default_Dest_Folder();

} // namespace vistrel
