// Start-up and close, in the order they happen.
#include "app/connection_test_flow.h"
#include "app/detection_flow.h"
#include "app/episodes_flow.h"
#include "app/notify_flow.h"
#include "app/vistrel_app.h"
#include "base/program_identity.h"
#include "recording/storage_layout.h"
#include "settings/ini_store.h"
#include "ui/form_placement.h"
#include "ui/form_recording_view.h"
#include "ui/main_window.h"
#include "ui/picture_menu.h"
#include "ui/settings_form.h"
#include "ui/tray_presence.h"
#include "ui/upload_status.h"
#include "ui/web_links.h"
#include "ui/window_modal.h"
#include "ui_UF_Main.h"
#include "update/update_check.h"
#include "upload/trust_prompt.h"

#include <QCloseEvent>
#include <QLabel>

#include <filesystem>
#include <system_error>

namespace vistrel {

// Made: the window exists, hidden, and nothing has been read yet.
void Vistrel_App::FormCreate() {
    window_->Status_Panel(3)->setText(services_.web.contact + "  |  Vistrel " + kVersion_Local);

    camera_.Open_Capture();

    controller_->State().Num_Folder_D = 0;
    controller_->State().Num_Folder_R = 0;
    const Local_Date_Time today = services_.clock->Now();

    std::error_code ec;
    std::filesystem::create_directories(data_folder_, ec); // a failure shows as neutral settings

    // The episode counters go on from the folders already on disk today, read
    // before the settings are loaded into the window.
    const std::string dest = Ini_Read_String(data_folder_ + "datas.ini", "string",
                                             "DED_Dest_Folder", services_.default_dest_folder());
    const Episode_Counters found = Scan_Episode_Counters(dest, today);
    controller_->State().Num_Folder_D = found.highest_d;
    controller_->State().Num_Folder_R = found.highest_r;

    // The pictures an earlier run recorded and could not send come first.
    upload_->Open_Queue(data_folder_ + kUpload_Queue_File_Name);

    tray_->Show();
    updates_->Start();
}

// The window was activated for the first time: the settings come in and
// sampling starts.
void Vistrel_App::FormActivate() {
    Load_Settings();
    const Working_Settings w = settings_form_->Read_Parameters_From_Controls();
    if (w.Minimized_Mode) {
        window_->showMinimized();
        tray_->AEV_AppliMinimize();
    }
    TMR_Refresh_IMG.start();
    controller_->Reset_For_Activation();
    if (w.Launch_Rec)
        controller_->BTN_Start_Stop_RecClick();
    if (w.Launch_Rec_Motion)
        controller_->BTN_Start_Stop_Rec_DetectClick();
}

void Vistrel_App::Close_Asked(QCloseEvent* e) {
    if (connection_test_->Running()) {
        // The test's connection is cut; the window closes once it returns.
        connection_test_->Cut_For_Close();
        e->ignore();
        return;
    }
    if (closed_) {
        // Asked again (a signal, the tray's Exit): whatever stopped the first
        // end of the run must not swallow this one.
        emit Closed();
        return;
    }
    closed_ = true;
    tray_->Set_Closed();
    // The dialogs and menus open at the close: none may hold the end.
    Close_Other_Windows(*window_);
    // Not a dialog, so not among those: its export is cancelled here.
    episodes_->Close();
    FormClose();
    emit Closed();
}

void Vistrel_App::FormClose() {
    // Before the first activation the controls hold their design values, not
    // the user's settings: saving them would overwrite the file.
    if (window_->Activated())
        Save_Settings();
    TMR_Refresh_IMG.stop();
    // Pictures from before the motion already have their names and numbers
    // in the episode; they are written rather than lost, and queued for the
    // server before the worker stops.
    controller_->Write_Remaining_Pictures();
    // What the messages could not deliver yet waits in the queue for the
    // next run; nothing waits here.
    notify_->Close();
    // No version is asked for once the window is closed.
    updates_->Stop();
    // Nothing is deleted once the window is closed.
    keeper_.reset();
    // A run in progress is cut short; an idle connection is left as it is.
    upload_->Close();
}

void Vistrel_App::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    camera_.Close_Capture();
    tray_->Hide();
}

Vistrel_App::~Vistrel_App() {
    Save_Placement(*window_, data_folder_ + "appli.ini");
    FormDestroy();
    // A program ended without its window closed must not wait on a stalled
    // transfer either.
    upload_->Close();
    // A version fetch still running is dropped before anything it reports to.
    updates_.reset();
}

} // namespace vistrel
