// The main window: the controls hold the settings while the program runs, and
// the window owns everything that lives longer than one call (camera, timers,
// recording state, upload list). It wires its controls to the logic and shows
// what the sampling tick reports.
#pragma once

#include "app/app_constants.h"
#include "capture/camera_choice.h"
#include "capture/camera_switch.h"
#include "capture/frame_source.h"
#include "recording/clock.h"
#include "recording/recording_controller.h"
#include "recording/storage_keeper.h"
#include "settings/storage_settings.h"
#include "settings/window_placement.h"
#include "settings/working_settings.h"
#include "upload/ftp_session.h"
#include "upload/server_trust.h"
#include "upload/sftp_client.h"
#include "upload/upload_list.h"
#include "upload/upload_queue_file.h"
#include "upload/upload_worker.h"

#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <array>
#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QLabel;
class QLineEdit;

namespace Ui {
class F_Main;
}

namespace vistrel {

// What the window needs from the world, replaceable in tests.
struct Main_Window_Services {
    std::unique_ptr<Frame_Source> camera;
    std::unique_ptr<Clock> clock;
    std::string data_folder; // ends in "/"
    Web_Addresses web;
    std::function<bool(const QUrl&)> open_url; // the user's browser
    std::function<Desktop_Area()> desktop;     // the area covering all screens
    std::function<bool()> tray_available;      // is there a notification area now
    // Takes the window off the taskbar (true) or puts it back (false).
    std::function<void(QWidget&, bool)> skip_taskbar;
    std::function<std::string()> default_dest_folder;
    // The cameras to offer, and how to open one by its description; without
    // them the live picture has no camera menu.
    std::function<std::vector<Camera_Option>()> list_cameras;
    std::function<std::unique_ptr<Frame_Source>(const std::string&)> make_camera;
    std::string camera_description; // the one opened at start
    // The autostart entry's file and the program it starts; without the file
    // the live picture's menu offers no start at login.
    std::string autostart_file;
    std::string program_path;
    // The HTTP client of the update check: starts fetching the version file;
    // `done` gets its body (nothing on any failure) on some thread. The fetch
    // is dropped with the handle.
    std::function<std::shared_ptr<void>(const std::string& url,
                                        std::function<void(std::optional<std::string>)> done)>
        HTP_Check_Ver;
    std::function<std::time_t()> program_modified; // the program file's modification time
    // The FTP client, reporting its status texts to `on_status` from the
    // thread of each operation. Without it the program uploads nothing.
    std::function<std::unique_ptr<Ftp_Session>(std::function<void(const std::string&)> on_status)>
        make_ftp_client;
    std::function<std::time_t()> now;
    // Asks whether to trust a certificate the system does not; without it a
    // question box asks.
    std::function<bool(const Certificate_Error&)> confirm_certificate;
    // The same for an SFTP server's host key not in known_hosts.
    std::function<bool(const Host_Key_Error&)> confirm_host_key;
    // Tells the user something in passing (`problem`: something is wrong);
    // a notification of the tray icon when unset.
    std::function<void(const QString& text, bool problem)> notify;

    // The real ones: QDesktopServices, the screens, the XDG pictures folder.
    static Main_Window_Services Standard(std::unique_ptr<Frame_Source> camera);
};

class Blocked_Close;
class Cached_Background;
class Panel_Colour;

class TF_Main : public QMainWindow, public Recording_View {
    Q_OBJECT

public:
    explicit TF_Main(Main_Window_Services services, QWidget* parent = nullptr);
    ~TF_Main() override;

    // Settings store: controls from and to datas.ini, controls to the working
    // settings.
    void Load_Settings();
    void Save_Settings();
    void Read_Parameters_From_Controls();

    // A copy of the working settings, safe to take from any thread.
    Working_Settings Working() const;

    Ui::F_Main& Form() { return *ui_; }
    // Paints the window's backdrop from a picture; null without the look.
    Cached_Background* Backdrop() { return backdrop_; }
    // Paint the two coloured panels' colours (for tests).
    Panel_Colour* Rec_Panel_Colour() { return rec_panel_colour_; }
    Panel_Colour* Detect_Panel_Colour() { return detect_panel_colour_; }
    Recording_Controller& Controller() { return controller_; }
    Upload_List& Files() { return files_; }
    QTimer& Sampling_Timer() { return TMR_Refresh_IMG; }
    QTimer& Update_Timer() { return TMR_Update; }
    QSystemTrayIcon& Tray_Icon() { return tray_icon_; }
    QMenu& Tray_Menu() { return PPM_Appli; }
    const std::string& Camera_Description() const { return camera_description_; }
    const std::string& Data_Folder() const { return data_folder_; }
    Upload_Queue_File* Upload_Queue() { return upload_queue_.get(); }
    bool Activated() const { return activated_; }

    // Recording_View
    Working_Settings Read_Parameters() override;
    bool Add_Time_Date() const override;
    bool Sensitivity_Dark() const override;
    int Jpeg_Size_Index() const override;
    void Set_Detect_Colour(uint32_t colour) override;
    void Show_Live(const QImage& frame) override;
    void Show_File_Name(const std::string& text) override;
    void Show_Folder_Name(const std::string& text) override;
    uint32_t Rec_Colour() const override { return rec_colour_; }
    void Set_Rec_Panel(uint32_t colour, const std::string& caption) override;
    void Set_Preview_Caption(const std::string& caption) override;
    void Show_Previews(const Preview_Strip& previews) override;
    void Show_Detection(const std::string& text) override;
    void Set_Gauge(int value) override;
    void Show_Processing_Time(const std::string& text) override;
    void Enable_FTP_Test(bool enabled) override;
    void Show_Save_Problem(const std::string& text) override;

    // Start-up and shutdown.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void FormDestroy();

    // Tray icon and minimized mode.
    void Tray_Icon_Message(QSystemTrayIcon::ActivationReason reason);
    void MNI_MinimizeClick();
    void MNI_RestoreClick();
    void MNI_ExitClick();
    void AEV_AppliMinimize();
    // Follows a notification area that comes or goes: a window hidden in the
    // tray is never left without an icon.
    void TMR_Tray_WatchTimer();

    // Links.
    void BTN_UpdateClick();
    void BTN_PaypalClick();
    void BTN_Site_KestoClick();
    // The click action of the hidden link label: opens the download page,
    // unless an earlier failure switched the label off.
    void LBL_UpdateClick();

    void TMR_Refresh_IMGTimer();

    // The update check, ten seconds after start.
    void TMR_UpdateTimer();
    // Asks the web server for the version file; the check goes on when the
    // answer, or its failure, is there.
    void Get_Remote_Version();

    // The live picture's context menu: the cameras, start at login and
    // the storage dialog.
    void Fill_Picture_Menu(QMenu& menu);
    void MNI_StorageClick();
    // Keeps the free-space setting in storage.ini and follows it from now
    // on; false, with a warning shown, when the file cannot be written.
    bool Apply_Storage_Settings(const Storage_Settings& settings);
    const Storage_Settings& Storage() const { return storage_settings_; }
    Storage_Keeper& Keeper() { return *keeper_; }

    // Another start on the same data folder asked for this window: it comes
    // forward, out of the notification area or the taskbar.
    void Show_From_Another_Start();

    // The FTP connection test behind BTN_FTP_Test.
    void BTN_FTP_TestClick();
    Upload_Worker* Worker() { return worker_.get(); }

signals:
    // The window was closed by the user, the tray menu or a signal: the run
    // is over.
    void Closed();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Build_Status_Bar();
    void Set_Ticking_Text(QLabel* panel, const std::string& text);
    void Connect_Controls();
    void Restore_Placement();
    // Whether the icon is in a notification area now, so that hiding the
    // window leaves a way back to it.
    bool Tray_Icon_Shown() const;
    void Save_Placement();
    void Show_Panel_Colours();
    void Show_Picture_Menu(const QPoint& at);
    void Use_Camera(const std::string& description);
    void Continue_Update_Check(const std::optional<std::string>& body);
    void FTP_ClientStatus(const std::string& text);
    struct Connection_Test_Outcome {
        bool sent = false;
        std::string failure;
        std::optional<Certificate_Error> untrusted; // one the user may pin
        std::optional<Host_Key_Error> unknown_key;  // an SFTP server's key the user may trust
    };
    Connection_Test_Outcome Run_Connection_Test_Beside_Window(const Working_Settings& settings);
    bool Ask_To_Trust(const Certificate_Error& refused);
    bool Ask_To_Trust(const Host_Key_Error& refused);
    // Yes or No, No by default; No once the window is closing.
    bool Ask_Trust_Question(const std::string& question_text, const std::string& details);
    void Show_Upload_File(const std::string& name);
    void Show_Backlog();
    void Close_Upload();
    // The dialogs and menus open at the close: none may hold the end.
    void Close_Open_Windows();
    void Notify(const QString& text, bool problem);
    void Update_Keeper();

    std::unique_ptr<Ui::F_Main> ui_;
    Cached_Background* backdrop_ = nullptr; // owned by the backdrop widget
    Main_Window_Services services_;
    std::string data_folder_;
    Camera_Switch camera_;
    std::string camera_description_;

    Upload_List files_;
    Recording_Controller controller_;

    mutable std::mutex working_mutex_; // the upload worker reads the FTP settings
    Working_Settings working_;

    QTimer TMR_Refresh_IMG;
    QTimer TMR_Update;
    QTimer TMR_Tray_Watch;
    QMenu PPM_Appli;
    QSystemTrayIcon tray_icon_;

    std::array<QLabel*, 4> status_panels_{};
    uint32_t rec_colour_ = 16777215;
    uint32_t detect_colour_ = 255;
    // What the two panels show; they catch up when the window is seen.
    uint32_t shown_rec_colour_ = 16777215;
    uint32_t shown_detect_colour_ = 0;
    Panel_Colour* rec_panel_colour_ = nullptr;    // owned by the panel
    Panel_Colour* detect_panel_colour_ = nullptr; // owned by the panel
    std::array<qint64, 7> preview_keys_{};
    bool has_shown_frame_ = false;

    bool activated_ = false;
    bool placement_restored_ = false;
    bool closed_ = false;
    bool destroyed_ = false;

    // Keeps files_ in the data folder; made once the folder exists, and gone
    // only after the worker, which changes files_.
    std::unique_ptr<Upload_Queue_File> upload_queue_;
    size_t shown_backlog_ = 0;

    std::unique_ptr<Ftp_Session> ftp_client_;
    std::unique_ptr<Upload_Worker> worker_; // after the client, which it uses

    Storage_Settings storage_settings_;
    bool save_failing_ = false; // a failure streak was told
    // A server was named or uploading was on at some time in this run: the
    // pictures queued for it are kept from the keeper.
    std::atomic<bool> uploads_wanted_{false};
    // Reads files_, so it goes before them.
    std::unique_ptr<Storage_Keeper> keeper_;
    bool connection_test_running_ = false;
    bool close_after_test_ = false;
    QPointer<QMessageBox> trust_question_; // open while the user decides

    // The close box works while a dialog blocks the window.
    std::unique_ptr<Blocked_Close> blocked_close_;

    // Last, so that a fetch still running is dropped first.
    std::shared_ptr<void> version_fetch_;
};

} // namespace vistrel
