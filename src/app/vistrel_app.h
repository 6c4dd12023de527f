// The program: it owns the camera, the recording controller, the upload
// service, the keeper, the update check, the tray presence and the window,
// and joins them. The window is a view; the rules live in the parts.
#pragma once

#include "app/app_services.h"
#include "capture/camera_switch.h"
#include "recording/recording_controller.h"
#include "recording/storage_keeper.h"
#include "settings/shared_settings.h"
#include "settings/storage_settings.h"
#include "upload/upload_list.h"
#include "upload/upload_service.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>
#include <string>

class QCloseEvent;

namespace Ui {
class F_Main;
}

namespace vistrel {

class Connection_Test_Flow;
class Detection_Flow;
class Episodes_Flow;
class Notify_Flow;
class Form_Recording_View;
class Picture_Menu;
class Settings_Form;
class TF_Main;
class Tray_Presence;
class Trust_Prompt;
class Update_Check;
class Upload_Status;
class Web_Links;

class Vistrel_App : public QObject {
    Q_OBJECT

public:
    explicit Vistrel_App(App_Services services);
    ~Vistrel_App() override;

    // Start-up and shutdown, in lifecycle.cpp.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void FormDestroy();

    // The sampling tick.
    void TMR_Refresh_IMGTimer();
    // The FTP connection test behind BTN_FTP_Test; it runs beside the
    // window and ends on its own.
    void BTN_FTP_TestClick();
    bool Connection_Test_Running() const;

    // datas.ini to and from the window's controls.
    void Load_Settings();
    void Save_Settings();
    // A copy of the working settings, safe to take from any thread.
    Working_Settings Working() const { return working_.Get(); }

    void MNI_DetectionClick();
    Detection_Flow& Detection() { return *detection_; }
    void MNI_NotifyClick();
    Notify_Flow& Notifications() { return *notify_; }
    void MNI_EpisodesClick();
    Episodes_Flow& Episodes() { return *episodes_; }

    void MNI_StorageClick();
    // Keeps the free-space setting in storage.ini and follows it from now
    // on; false, with a warning shown, when the file cannot be written.
    bool Apply_Storage_Settings(const Storage_Settings& settings);
    const Storage_Settings& Storage() const { return storage_settings_; }
    Storage_Keeper& Keeper() { return *keeper_; }

    // Another start on the same data folder asked for the window.
    void Show_From_Another_Start();

    TF_Main& Window() { return *window_; }
    Ui::F_Main& Form();
    Form_Recording_View& View() { return *view_; }
    Tray_Presence& Tray() { return *tray_; }
    Picture_Menu& Live_Picture_Menu() { return *picture_menu_; }
    Update_Check& Updates() { return *updates_; }
    Recording_Controller& Controller() { return *controller_; }
    Upload_List& Files() { return files_; }
    Upload_Worker* Worker() { return upload_->Worker(); }
    Upload_Queue_File* Upload_Queue() { return upload_->Queue(); }
    QTimer& Sampling_Timer() { return TMR_Refresh_IMG; }
    const std::string& Camera_Description() const { return camera_description_; }
    const std::string& Data_Folder() const { return data_folder_; }

signals:
    // The window was closed by the user, the tray menu or a signal: the run
    // is over.
    void Closed();

private:
    void Build_Parts();
    void Connect_Parts();
    void Close_Asked(QCloseEvent* e);
    void Use_Camera(const std::string& description);
    void Update_Keeper();
    void Notify(const QString& text, bool problem);
    std::unique_ptr<Storage_Keeper> Make_Keeper();

    App_Services services_;
    const std::string data_folder_;
    Shared_Settings working_; // the upload worker reads them on its thread
    Camera_Switch camera_;
    std::string camera_description_;
    Upload_List files_;

    std::unique_ptr<TF_Main> window_;
    std::unique_ptr<Settings_Form> settings_form_;
    std::unique_ptr<Form_Recording_View> view_;
    std::unique_ptr<Upload_Status> upload_status_;
    std::unique_ptr<Tray_Presence> tray_;
    std::unique_ptr<Picture_Menu> picture_menu_;
    std::unique_ptr<Web_Links> links_;

    std::unique_ptr<Recording_Controller> controller_;
    QTimer TMR_Refresh_IMG;

    std::unique_ptr<Upload_Service> upload_;
    std::unique_ptr<Trust_Prompt> trust_prompt_;
    std::unique_ptr<Connection_Test_Flow> connection_test_;

    std::unique_ptr<Detection_Flow> detection_;
    std::unique_ptr<Notify_Flow> notify_;
    std::unique_ptr<Episodes_Flow> episodes_;
    Storage_Settings storage_settings_;
    // A server was named or uploading was on at some time in this run: the
    // pictures queued for it are kept from the keeper.
    std::atomic<bool> uploads_wanted_{false};
    // Reads files_, which the worker changes, so it goes before them.
    std::unique_ptr<Storage_Keeper> keeper_;

    bool closed_ = false;
    bool destroyed_ = false;

    // Last, so that a version fetch still running is dropped first.
    std::unique_ptr<Update_Check> updates_;
};

} // namespace vistrel
