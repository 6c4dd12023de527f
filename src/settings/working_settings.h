// The settings the program works with, copied from the window's controls.
#pragma once

#include <cstdint>
#include <string>

namespace vistrel {

struct Working_Settings {
    int32_t Sampling_ms = 0;
    double Threshold = 0.0;
    int32_t Delay_Start_ms = 0;
    int32_t Delay_Stop_ms = 0;
    std::string Dest_Folder; // always ends in "/"
    int32_t Max_Files = 0;
    bool Use_Same_File_Name = false;
    std::string Fixed_File_Name;
    bool Use_FTP = false;
    std::string FTP_Server;
    std::string FTP_Login;
    std::string FTP_Password;
    bool Minimized_Mode = false;
    bool Launch_Rec = false;
    bool Launch_Rec_Motion = false;
};

} // namespace vistrel
