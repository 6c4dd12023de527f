#include "settings/stored_settings.h"

#include "settings/ini_store.h"

#include <algorithm>
#include <array>
#include <variant>
#include <vector>

namespace vistrel {

namespace {

struct Key {
    const char* section;
    const char* name;
    std::variant<int32_t Stored_Settings::*, std::string Stored_Settings::*> member;
    int save_rank; // the place of the key when the window writes them all
};

// In the order the keys are read; the defaults are those of a new
// Stored_Settings, but for the destination, which depends on the user.
constexpr std::array<Key, 17> kKeys{{
    {"integer", "RBT_Rec_Launch", &Stored_Settings::RBT_Rec_Launch, 0},
    {"integer", "RBT_Mode_Start", &Stored_Settings::RBT_Mode_Start, 1},
    {"string", "DED_Dest_Folder", &Stored_Settings::DED_Dest_Folder, 2},
    {"integer", "EDT_Seuil_Detect", &Stored_Settings::EDT_Seuil_Detect, 3},
    {"integer", "EDT_Timer_Refresh", &Stored_Settings::EDT_Timer_Refresh, 5},
    {"integer", "EDT_Delay_Avant_Rec", &Stored_Settings::EDT_Delay_Avant_Rec, 6},
    {"integer", "EDT_Delay_Apres_Rec", &Stored_Settings::EDT_Delay_Apres_Rec, 7},
    {"integer", "CBX_JPEG_Size", &Stored_Settings::CBX_JPEG_Size, 8},
    {"integer", "CKB_Use_FTP", &Stored_Settings::CKB_Use_FTP, 11},
    {"integer", "CKB_Use_Same_File_Name", &Stored_Settings::CKB_Use_Same_File_Name, 12},
    {"integer", "CKB_Add_Time_Date", &Stored_Settings::CKB_Add_Time_Date, 9},
    {"integer", "CKB_Sensitivity_Dark", &Stored_Settings::CKB_Sensitivity_Dark, 10},
    {"integer", "EDT_Nb_Max_File", &Stored_Settings::EDT_Nb_Max_File, 4},
    {"string", "EDT_File_Name", &Stored_Settings::EDT_File_Name, 13},
    {"string", "EDT_FTP_Server_Name", &Stored_Settings::EDT_FTP_Server_Name, 14},
    {"string", "EDT_FTP_Login", &Stored_Settings::EDT_FTP_Login, 15},
    {"string", "EDT_FTP_Password", &Stored_Settings::EDT_FTP_Password, 16},
}};

// Seconds as milliseconds in 32 bits, wrapping as the tick arithmetic does,
// where a plain product would overflow.
int32_t Milliseconds_Of(int32_t seconds) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(seconds) * 1000));
}

} // namespace

Stored_Settings Load_Stored_Settings(const std::string& ini_path,
                                     const std::string& default_dest_folder) noexcept {
    const Stored_Settings defaults;
    Stored_Settings values;
    for (const Key& key : kKeys) {
        if (const auto* number = std::get_if<int32_t Stored_Settings::*>(&key.member))
            values.*(*number) =
                Ini_Read_Integer(ini_path, key.section, key.name, defaults.*(*number));
        else {
            const auto text = std::get<std::string Stored_Settings::*>(key.member);
            const std::string& fallback =
                text == &Stored_Settings::DED_Dest_Folder ? default_dest_folder : defaults.*text;
            values.*text = Ini_Read_String(ini_path, key.section, key.name, fallback);
        }
    }
    return values;
}

void Save_Stored_Settings(const std::string& ini_path, const Stored_Settings& values) noexcept {
    std::vector<Ini_Value> written(kKeys.size());
    for (const Key& key : kKeys) {
        std::string value;
        if (const auto* number = std::get_if<int32_t Stored_Settings::*>(&key.member))
            value = std::to_string(values.*(*number));
        else
            value = values.*std::get<std::string Stored_Settings::*>(key.member);
        written[static_cast<size_t>(key.save_rank)] = {key.section, key.name, std::move(value)};
    }
    // One replacement of the file: a kill during the close leaves all the
    // old values or all the new ones, and a slow card is waited for once.
    Ini_Write_All(ini_path, written);
}

Working_Settings Working_From(const Stored_Settings& stored) {
    Working_Settings w;
    w.Minimized_Mode = stored.RBT_Mode_Start == 1;
    // The minimum applies to the timer only: the edit keeps what was typed.
    w.Sampling_ms = std::max(stored.EDT_Timer_Refresh, kMinimum_Sampling_ms);
    w.Dest_Folder = stored.DED_Dest_Folder + "/";
    w.Delay_Start_ms = Milliseconds_Of(stored.EDT_Delay_Avant_Rec);
    w.Delay_Stop_ms = Milliseconds_Of(stored.EDT_Delay_Apres_Rec);
    w.Threshold = stored.EDT_Seuil_Detect;
    w.Launch_Rec_Motion = stored.RBT_Rec_Launch == 2;
    w.Launch_Rec = stored.RBT_Rec_Launch == 1;
    w.Use_FTP = stored.CKB_Use_FTP == 1;
    w.Use_Same_File_Name = stored.CKB_Use_Same_File_Name == 1;
    w.Fixed_File_Name = stored.EDT_File_Name;
    w.Max_Files = stored.EDT_Nb_Max_File;
    w.FTP_Server = stored.EDT_FTP_Server_Name;
    w.FTP_Login = stored.EDT_FTP_Login;
    w.FTP_Password = stored.EDT_FTP_Password;
    return w;
}

} // namespace vistrel
