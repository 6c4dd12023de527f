// datas.ini as the first start writes it: the window reads the destination
// folder on its own before the rest, which puts the string section first.
#pragma once

#include <string>

namespace vistrel::test {

inline std::string Fresh_Datas_Ini(const std::string& dest_folder) {
    return "[string]\r\n"
           "DED_Dest_Folder=" +
           dest_folder +
           "\r\n"
           "EDT_File_Name=Img_\r\n"
           "EDT_FTP_Server_Name=\r\n"
           "EDT_FTP_Login=\r\n"
           "EDT_FTP_Password=\r\n"
           "[integer]\r\n"
           "RBT_Rec_Launch=0\r\n"
           "RBT_Mode_Start=0\r\n"
           "EDT_Seuil_Detect=5\r\n"
           "EDT_Timer_Refresh=200\r\n"
           "EDT_Delay_Avant_Rec=5\r\n"
           "EDT_Delay_Apres_Rec=20\r\n"
           "CBX_JPEG_Size=0\r\n"
           "CKB_Use_FTP=0\r\n"
           "CKB_Use_Same_File_Name=0\r\n"
           "CKB_Add_Time_Date=0\r\n"
           "CKB_Sensitivity_Dark=0\r\n"
           "EDT_Nb_Max_File=30000\r\n";
}

} // namespace vistrel::test
