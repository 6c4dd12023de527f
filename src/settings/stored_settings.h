// The settings of the main window as datas.ini keeps them, and the working
// settings the program derives from them. Other tools read datas.ini, so its
// keys, their order and their defaults are fixed by one table.
#pragma once

#include "settings/working_settings.h"

#include <cstdint>
#include <string>

namespace vistrel {

// The smallest sampling period the timer is given, whatever was typed.
inline constexpr int32_t kMinimum_Sampling_ms = 50;

// Every value as it is stored: a radio group as its number, a check box as
// 1 or 0, an edit as its integer or text.
struct Stored_Settings {
    int32_t RBT_Rec_Launch = 0;
    int32_t RBT_Mode_Start = 0;
    std::string DED_Dest_Folder;
    int32_t EDT_Seuil_Detect = 5;
    int32_t EDT_Timer_Refresh = 200;
    int32_t EDT_Delay_Avant_Rec = 5;
    int32_t EDT_Delay_Apres_Rec = 20;
    int32_t CBX_JPEG_Size = 0;
    int32_t CKB_Use_FTP = 0;
    int32_t CKB_Use_Same_File_Name = 0;
    int32_t CKB_Add_Time_Date = 0;
    int32_t CKB_Sensitivity_Dark = 0;
    int32_t EDT_Nb_Max_File = 30000;
    std::string EDT_File_Name = "Img_";
    std::string EDT_FTP_Server_Name;
    std::string EDT_FTP_Login;
    std::string EDT_FTP_Password;

    bool operator==(const Stored_Settings&) const = default;
};

// Reads every key in the table's order; a missing key is written with its
// default as it is read, so a fresh file is completed in that order.
// `default_dest_folder` is DED_Dest_Folder's default.
Stored_Settings Load_Stored_Settings(const std::string& ini_path,
                                     const std::string& default_dest_folder) noexcept;

// Writes every key in one replacement of the file, in the order the keys
// have always been written, so that a file missing some keys gets them in
// the same place as before.
void Save_Stored_Settings(const std::string& ini_path, const Stored_Settings& values) noexcept;

// What the program works with: seconds made milliseconds, the radio groups
// and boxes made flags, the sampling period kept at its minimum.
Working_Settings Working_From(const Stored_Settings& stored);

} // namespace vistrel
