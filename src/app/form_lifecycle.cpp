// Start-up and shutdown of the main window.
#include "recording/storage_layout.h"
#include "settings/ini_store.h"
#include "ui/main_window.h"
#include "ui_UF_Main.h"

#include <QLabel>
#include <filesystem>
#include <system_error>

namespace vistrel {

void TF_Main::FormCreate() {
    ui_->LBL_Site_Kesto->setText(services_.web.site);
    ui_->LBL_Update->setText(QStringLiteral("Get the latest version here ..."));
    status_panels_[3]->setText(services_.web.contact + "  |  Vistrel " + kVersion_Local);

    camera_.Open_Capture();

    controller_.State().Num_Folder_D = 0;
    controller_.State().Num_Folder_R = 0;
    const Local_Date_Time today = services_.clock->Now();

    std::error_code ec;
    std::filesystem::create_directories(data_folder_, ec); // a failure shows as neutral settings

    // The episode counters go on from the folders already on disk today, read
    // before the settings are loaded into the window.
    const std::string dest = Ini_Read_String(data_folder_ + "datas.ini", "string",
                                             "DED_Dest_Folder", services_.default_dest_folder());
    const Episode_Counters found = Scan_Episode_Counters(dest, today);
    controller_.State().Num_Folder_D = found.highest_d;
    controller_.State().Num_Folder_R = found.highest_r;

    // The pictures an earlier run recorded and could not send come first.
    upload_queue_ =
        std::make_unique<Upload_Queue_File>(data_folder_ + kUpload_Queue_File_Name, files_);

    // Shown whether or not a notification area is there yet: the icon takes
    // its place in one that comes later (a panel started after the program).
    tray_icon_.show();
    TMR_Tray_Watch.start();
    TMR_Update.start();
}

void TF_Main::FormActivate() {
    Load_Settings();
    Read_Parameters_From_Controls();
    if (Working().Minimized_Mode) {
        showMinimized();
        AEV_AppliMinimize();
    }
    TMR_Refresh_IMG.start();
    controller_.Reset_For_Activation();
    const Working_Settings w = Working();
    if (w.Launch_Rec)
        controller_.BTN_Start_Stop_RecClick();
    if (w.Launch_Rec_Motion)
        controller_.BTN_Start_Stop_Rec_DetectClick();
}

void TF_Main::FormClose() {
    // Before the first activation the controls hold their design values, not
    // the user's settings: saving them would overwrite the file.
    if (activated_)
        Save_Settings();
    TMR_Refresh_IMG.stop();
    // No version is asked for once the window is closed.
    TMR_Update.stop();
    // Nothing is deleted once the window is closed.
    keeper_.reset();
    // A run in progress is cut short; an idle connection is left as it is.
    Close_Upload();
}

void TF_Main::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    camera_.Close_Capture();
    TMR_Tray_Watch.stop();
    tray_icon_.hide();
}

} // namespace vistrel
