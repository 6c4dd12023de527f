#include "ui/main_window.h"

#include "app/version_check.h"
#include "app/version_fetch.h"
#include "recording/storage_layout.h"
#include "settings/autostart_entry.h"
#include "settings/data_folder.h"
#include "settings/ini_store.h"
#include "ui/blocked_close.h"
#include "ui/cached_background.h"
#include "ui/folder_edit.h"
#include "ui/panel_colour.h"
#include "ui/storage_dialog.h"
#include "ui/taskbar_entry.h"
#include "ui/update_dialog.h"
#include "ui/window_modal.h"
#include "ui_UF_Main.h"
#include "upload/connection_test.h"
#include "upload/ftp_client.h"
#include "upload/server_session.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QWindow>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <sys/stat.h>

#ifndef VISTREL_UPDATE_CHECK
#define VISTREL_UPDATE_CHECK 1
#endif

namespace vistrel {

namespace {

constexpr int kMinimum_Sampling_ms = 50;

QColor Colour_Of(uint32_t bbggrr) {
    return QColor(int(bbggrr & 0xFF), int((bbggrr >> 8) & 0xFF), int((bbggrr >> 16) & 0xFF));
}

// An integer edit's value: 0 when its text is empty or not an integer.
int32_t Integer_Value(const QLineEdit* edit) {
    bool ok = false;
    const int value = edit->text().toInt(&ok);
    return ok ? value : 0;
}

void Set_Integer_Value(QLineEdit* edit, int32_t value) {
    edit->setText(QString::number(value));
}

// A stored value outside the group leaves every button of it unchecked, which
// exclusive buttons refuse unless told otherwise.
void Set_Radio(QAbstractButton* button, bool checked) {
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(checked);
    button->setAutoExclusive(exclusive);
}

// Seconds as milliseconds in 32 bits, wrapping as the tick arithmetic does,
// where a plain product would overflow.
int32_t Milliseconds_Of(int32_t seconds) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(seconds) * 1000));
}

std::string Text_Of(const QLineEdit* edit) {
    return edit->text().toStdString();
}

} // namespace

Main_Window_Services Main_Window_Services::Standard(std::unique_ptr<Frame_Source> camera) {
    Main_Window_Services s;
    s.camera = std::move(camera);
    s.clock = std::make_unique<System_Clock>();
    s.data_folder = Data_Folder_Path();
    s.web = Current_Web_Addresses();
    s.open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    s.desktop = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->virtualGeometry() : QRect(0, 0, 1024, 768);
        return Desktop_Area{area.left(), area.top(), area.width(), area.height()};
    };
    s.tray_available = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    s.autostart_file = Autostart_File_Path(Environment_Variable);
    std::error_code no_link;
    s.program_path = std::filesystem::read_symlink("/proc/self/exe", no_link).string();
    s.skip_taskbar = [](QWidget& window, bool skip) { Set_Skip_Taskbar(window, skip); };
    s.default_dest_folder = [] { return Default_Dest_Folder(); };
    // Without the fetch the check asks nothing, opens no page and shows no
    // dialog; the link to the download page stays.
    if (Update_Check_Wanted(VISTREL_UPDATE_CHECK, Web_Base()))
        s.HTP_Check_Ver = [](const std::string& url,
                             std::function<void(std::optional<std::string>)> done) {
            return std::shared_ptr<void>(
                std::make_shared<Version_Fetch>(url, std::chrono::seconds(10), std::move(done)));
        };
    s.program_modified = [] {
        struct stat st {};
        return ::stat("/proc/self/exe", &st) == 0 ? st.st_mtime : std::time(nullptr);
    };
    s.now = [] { return std::time(nullptr); };
    s.make_ftp_client = [folder =
                             s.data_folder](std::function<void(const std::string&)> on_status) {
        auto session = std::make_unique<Server_Session>();
        FTP_Client& ftp = session->Ftp;
        ftp.Pinned_Certificate = [pins = Trusted_Servers(folder + Trusted_Servers::kFile_Name)](
                                     const std::string& host, uint16_t port) {
            return pins.Pinned(host, port);
        };
        ftp.OnStatus = [on_status](Ftp_Status, const std::string& text) { on_status(text); };
        session->Sftp.Known_Hosts_File = folder + kKnown_Hosts_File_Name;
        session->Sftp.OnStatus = on_status;
        return std::unique_ptr<Ftp_Session>(std::move(session));
    };
    return s;
}

TF_Main::TF_Main(Main_Window_Services services, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::F_Main>()), services_(std::move(services)),
      data_folder_(services_.data_folder), camera_(std::move(services_.camera)),
      camera_description_(services_.camera_description),
      controller_(*this, camera_, *services_.clock, files_, [this] {
          if (worker_)
              worker_->Start();
      }) {
    ui_->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/vistrel/icons/vistrel.svg")));
    Build_Status_Bar();
    Connect_Controls();
    // After the status bar panels exist, so that they take the form's font.
    QFile style(QStringLiteral(":/vistrel/vistrel.qss"));
    if (style.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(style.readAll()));
        // The backdrop's gradient is opaque and the same at every tick.
        backdrop_ = new Cached_Background(ui_->PNL_Global);
        // Black under the picture from the sheet's rule on it.
        backdrop_->Paints_Over(ui_->IMG_WebCam);
    }
    // Absolute in its panel: fixed, a new picture asks for no layout.
    ui_->IMG_WebCam->setFixedSize(ui_->IMG_WebCam->size());

    // Created disabled; the first activation starts it.
    TMR_Refresh_IMG.setInterval(100);
    connect(&TMR_Refresh_IMG, &QTimer::timeout, this, &TF_Main::TMR_Refresh_IMGTimer);
    TMR_Update.setInterval(10000);
    connect(&TMR_Update, &QTimer::timeout, this, &TF_Main::TMR_UpdateTimer);
    // Seldom enough to cost nothing, often enough that a panel started after
    // the program takes the window soon.
    TMR_Tray_Watch.setInterval(2000);
    connect(&TMR_Tray_Watch, &QTimer::timeout, this, &TF_Main::TMR_Tray_WatchTimer);

    PPM_Appli.addAction(ui_->MNI_Minimize);
    PPM_Appli.addAction(ui_->MNI_Restore);
    PPM_Appli.addAction(ui_->MNI_Exit);
    connect(ui_->MNI_Minimize, &QAction::triggered, this, &TF_Main::MNI_MinimizeClick);
    connect(ui_->MNI_Restore, &QAction::triggered, this, &TF_Main::MNI_RestoreClick);
    connect(ui_->MNI_Exit, &QAction::triggered, this, &TF_Main::MNI_ExitClick);
    // The icon shows the menu itself, wherever it lives (an X11 tray or a
    // StatusNotifier host); Tray_Icon_Message covers the rest.
    tray_icon_.setContextMenu(&PPM_Appli);
    connect(&tray_icon_, &QSystemTrayIcon::activated, this, &TF_Main::Tray_Icon_Message);
    tray_icon_.setIcon(windowIcon());
    tray_icon_.setToolTip(kApp_Name);

    if (services_.make_ftp_client) {
        ftp_client_ =
            services_.make_ftp_client([this](const std::string& text) { FTP_ClientStatus(text); });
        worker_ = std::make_unique<Upload_Worker>(
            *ftp_client_, files_,
            Upload_Worker::Hooks{[this] { return Working(); },
                                 [this](const std::string& name) { Show_Upload_File(name); },
                                 nullptr, data_folder_ + kUpload_Refused_File_Name});
    }
    connect(ui_->BTN_FTP_Test, &QAbstractButton::clicked, this, &TF_Main::BTN_FTP_TestClick);
    blocked_close_ = std::make_unique<Blocked_Close>(*this);

    ui_->LBL_Save_Problem->hide();
    storage_settings_ = Storage_Settings::Load(data_folder_);
    keeper_ = std::make_unique<Storage_Keeper>(Keeper_Hooks{
        {},
        [this] {
            std::unordered_set<std::string> queued;
            // Every picture is queued, uploading on or off. They wait for a
            // server once one was named or uploading was on in this run:
            // unticking "Send files" or retyping the server to mend it keeps
            // them, and a user who never uploads is not left with a keeper
            // that may delete nothing.
            const Working_Settings w = Working();
            if (!w.FTP_Server.empty() || w.Use_FTP)
                uploads_wanted_ = true;
            if (!uploads_wanted_)
                return queued;
            // In pieces, so that the tick and the worker never wait long
            // for the list.
            std::optional<Upload_List::Entry_Id> from = 0;
            while (from)
                from = files_.Visit_Unfinished(
                    *from, 1000, [&](uint64_t, const TFichier& f) { queued.insert(f.Path); });
            return queued;
        },
        {}});
    controller_.On_New_Episode_Folder([this](const std::string& folder) {
        if (keeper_)
            keeper_->Set_Current_Episode(folder);
    });

    FormCreate();
}

TF_Main::~TF_Main() {
    Save_Placement();
    FormDestroy();
    // A window destroyed without being closed must not wait on a stalled
    // transfer either.
    Close_Upload();
}

void TF_Main::Build_Status_Bar() {
    const int widths[] = {130, 100, 20, 0};
    const char* texts[] = {" Processing time : 0ms", " Detection :", "", ""};
    for (size_t i = 0; i < status_panels_.size(); ++i) {
        auto* panel = new QLabel(QString::fromLatin1(texts[i]), ui_->STB_Main);
        panel->setObjectName(QStringLiteral("STB_Main_Panel_%1").arg(i));
        if (widths[i] > 0)
            panel->setFixedWidth(widths[i]);
        if (i == 2) {
            // The detection indicator covers the third panel.
            ui_->PNL_Status_Detect->setParent(panel);
            ui_->PNL_Status_Detect->move(0, 1);
            ui_->PNL_Status_Detect->show();
        }
        ui_->STB_Main->addWidget(panel, widths[i] > 0 ? 0 : 1);
        status_panels_[i] = panel;
    }
    detect_panel_colour_ = new Panel_Colour(ui_->PNL_Status_Detect);
    detect_panel_colour_->Set(Colour_Of(detect_colour_));
    shown_detect_colour_ = detect_colour_;
    rec_panel_colour_ = new Panel_Colour(ui_->PNL_Rec);
}

void TF_Main::Connect_Controls() {
    for (QLineEdit* edit : {ui_->EDT_Seuil_Detect, ui_->EDT_Timer_Refresh, ui_->EDT_Delay_Avant_Rec,
                            ui_->EDT_Delay_Apres_Rec, ui_->EDT_Nb_Max_File}) {
        // Digits only: a group separator the reading would not take is refused.
        auto* validator = new QIntValidator(edit);
        QLocale plain = QLocale::c();
        plain.setNumberOptions(QLocale::RejectGroupSeparator);
        validator->setLocale(plain);
        edit->setValidator(validator);
    }
    // Enter moves on in the integer and text edits; leaving one of the four
    // timing edits applies it at once.
    for (QLineEdit* edit : {ui_->EDT_Seuil_Detect, ui_->EDT_Timer_Refresh, ui_->EDT_Delay_Avant_Rec,
                            ui_->EDT_Delay_Apres_Rec, ui_->EDT_Nb_Max_File, ui_->EDT_File_Name,
                            ui_->EDT_FTP_Server_Name, ui_->EDT_FTP_Login, ui_->EDT_FTP_Password})
        edit->installEventFilter(this);
    for (QCheckBox* box : {ui_->CKB_Add_Time_Date, ui_->CKB_Sensitivity_Dark,
                           ui_->CKB_Use_Same_File_Name, ui_->CKB_Use_FTP})
        connect(box, &QCheckBox::toggled, this, [this] { Read_Parameters_From_Controls(); });

    connect(ui_->BTN_Start_Stop_Rec, &QAbstractButton::clicked, this,
            [this] { controller_.BTN_Start_Stop_RecClick(); });
    connect(ui_->BTN_Start_Stop_Rec_Detect, &QAbstractButton::clicked, this,
            [this] { controller_.BTN_Start_Stop_Rec_DetectClick(); });
    connect(ui_->BTN_Stop, &QAbstractButton::clicked, this,
            [this] { controller_.BTN_StopClick(); });
    connect(ui_->BTN_Update, &QAbstractButton::clicked, this, &TF_Main::BTN_UpdateClick);
    connect(ui_->BTN_Paypal, &QAbstractButton::clicked, this, &TF_Main::BTN_PaypalClick);
    connect(ui_->BTN_Site_Kesto, &QAbstractButton::clicked, this, &TF_Main::BTN_Site_KestoClick);
    ui_->BTN_Paypal->setVisible(!services_.web.donation.isEmpty());

    ui_->IMG_WebCam->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui_->IMG_WebCam, &QWidget::customContextMenuRequested, this,
            &TF_Main::Show_Picture_Menu);
}

void TF_Main::Show_Picture_Menu(const QPoint& at) {
    QMenu menu(this);
    Fill_Picture_Menu(menu);
    menu.exec(ui_->IMG_WebCam->mapToGlobal(at));
}

void TF_Main::Fill_Picture_Menu(QMenu& menu) {
    if (services_.make_camera) {
        std::vector<Camera_Option> options;
        if (services_.list_cameras)
            options = services_.list_cameras();
        options.push_back({tr("Test pattern").toStdString(), kTest_Pattern_Description});
        for (const Camera_Option& option : options) {
            QAction* action = menu.addAction(QString::fromStdString(option.label));
            action->setCheckable(true);
            action->setChecked(option.description == camera_description_);
            connect(action, &QAction::triggered, this,
                    [this, description = option.description] { Use_Camera(description); });
        }
        menu.addSeparator();
        connect(menu.addAction(tr("Network camera...")), &QAction::triggered, this, [this] {
            const QString address = Ask_Text_Window_Modal(
                this, tr("Network camera"), tr("Address of the camera (rtsp:// or http://):"));
            if (address.isEmpty())
                return;
            if (const auto description =
                    Network_Camera_Description(address.trimmed().toStdString()))
                Use_Camera(*description);
            else
                Tell_Window_Modal(this, QMessageBox::Warning,
                                  tr("This is not an rtsp, rtsps, http or https address."));
        });
    }
    if (!menu.isEmpty())
        menu.addSeparator();
    connect(menu.addAction(QStringLiteral("Storage...")), &QAction::triggered, this,
            &TF_Main::MNI_StorageClick);
    if (services_.autostart_file.empty())
        return;
    QAction* at_login = menu.addAction(QStringLiteral("Start Vistrel when I log in"));
    at_login->setCheckable(true);
    at_login->setChecked(Autostart_Enabled(services_.autostart_file));
    connect(at_login, &QAction::triggered, this, [this](bool enabled) {
        try {
            Set_Autostart(services_.autostart_file, enabled, services_.program_path);
        } catch (const std::exception& e) {
            Tell_Window_Modal(this, QMessageBox::Warning,
                              tr("The start at login could not be changed: %1")
                                  .arg(QString::fromLocal8Bit(e.what())));
        }
    });
}

void TF_Main::MNI_StorageClick() {
    // The keeper's latest words, and the disk's size, beside the setting:
    // more than half of the disk is refused there.
    const std::optional<Disk_Space> disk = Measure_Disk_Space(Working().Dest_Folder);
    TF_Storage dialog(storage_settings_, this,
                      disk ? std::optional<uint64_t>(disk->size) : std::nullopt,
                      [this] { return keeper_ ? keeper_->Status_Text() : std::string(); });
    if (Exec_Window_Modal(dialog) == QDialog::Accepted)
        Apply_Storage_Settings(dialog.Settings());
}

bool TF_Main::Apply_Storage_Settings(const Storage_Settings& settings) {
    try {
        settings.Save(data_folder_);
    } catch (const std::exception& e) {
        Tell_Window_Modal(
            this, QMessageBox::Warning,
            tr("The storage setting could not be saved: %1").arg(QString::fromLocal8Bit(e.what())));
        return false;
    }
    storage_settings_ = settings;
    Update_Keeper();
    return true;
}

void TF_Main::Update_Keeper() {
    const Working_Settings w = Working();
    Keeper_Inputs inputs;
    inputs.dest_folder = w.Dest_Folder;
    inputs.keep_free_bytes = storage_settings_.keep_free ? storage_settings_.Keep_Free_Bytes() : 0;
    inputs.current_episode = controller_.Last_Episode_Folder();
    inputs.fixed_picture = w.Dest_Folder + w.Fixed_File_Name + ".jpg";
    if (!keeper_)
        return;
    keeper_->Update(inputs);
    // Told once when the keeper cannot keep the space, not at every pass.
    if (const std::optional<std::string> notice = keeper_->Take_Notice())
        Notify(QString::fromStdString(*notice), true);
}

void TF_Main::Use_Camera(const std::string& description) {
    camera_description_ = description;
    Save_Camera_Choice(data_folder_, description);
    camera_.Switch_To(services_.make_camera(description));
    has_shown_frame_ = false;
    ui_->IMG_WebCam->clear();
}

bool TF_Main::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    } else if (e->type() == QEvent::FocusOut) {
        if (watched == ui_->EDT_Seuil_Detect || watched == ui_->EDT_Timer_Refresh ||
            watched == ui_->EDT_Delay_Avant_Rec || watched == ui_->EDT_Delay_Apres_Rec)
            Read_Parameters_From_Controls();
    }
    return QMainWindow::eventFilter(watched, e);
}

// ---- Settings store -------------------------------------------------------

void TF_Main::Load_Settings() {
    const std::string ini = data_folder_ + "datas.ini";
    Set_Radio(ui_->RBT_Rec_Launch_0, Ini_Read_Integer(ini, "integer", "RBT_Rec_Launch", 0) == 0);
    Set_Radio(ui_->RBT_Rec_Launch_1, Ini_Read_Integer(ini, "integer", "RBT_Rec_Launch", 0) == 1);
    Set_Radio(ui_->RBT_Rec_Launch_2, Ini_Read_Integer(ini, "integer", "RBT_Rec_Launch", 0) == 2);
    Set_Radio(ui_->RBT_Mode_Start_0, Ini_Read_Integer(ini, "integer", "RBT_Mode_Start", 0) == 0);
    Set_Radio(ui_->RBT_Mode_Start_1, Ini_Read_Integer(ini, "integer", "RBT_Mode_Start", 0) == 1);
    ui_->DED_Dest_Folder->setPath(QString::fromStdString(
        Ini_Read_String(ini, "string", "DED_Dest_Folder", services_.default_dest_folder())));
    Set_Integer_Value(ui_->EDT_Seuil_Detect,
                      Ini_Read_Integer(ini, "integer", "EDT_Seuil_Detect", 5));
    Set_Integer_Value(ui_->EDT_Timer_Refresh,
                      Ini_Read_Integer(ini, "integer", "EDT_Timer_Refresh", 200));
    Set_Integer_Value(ui_->EDT_Delay_Avant_Rec,
                      Ini_Read_Integer(ini, "integer", "EDT_Delay_Avant_Rec", 5));
    Set_Integer_Value(ui_->EDT_Delay_Apres_Rec,
                      Ini_Read_Integer(ini, "integer", "EDT_Delay_Apres_Rec", 20));
    ui_->CBX_JPEG_Size->setCurrentIndex(Ini_Read_Integer(ini, "integer", "CBX_JPEG_Size", 0));
    ui_->CKB_Use_FTP->setChecked(Ini_Read_Integer(ini, "integer", "CKB_Use_FTP", 0) == 1);
    ui_->CKB_Use_Same_File_Name->setChecked(
        Ini_Read_Integer(ini, "integer", "CKB_Use_Same_File_Name", 0) == 1);
    ui_->CKB_Add_Time_Date->setChecked(Ini_Read_Integer(ini, "integer", "CKB_Add_Time_Date", 0) ==
                                       1);
    ui_->CKB_Sensitivity_Dark->setChecked(
        Ini_Read_Integer(ini, "integer", "CKB_Sensitivity_Dark", 0) == 1);
    Set_Integer_Value(ui_->EDT_Nb_Max_File,
                      Ini_Read_Integer(ini, "integer", "EDT_Nb_Max_File", 30000));
    ui_->EDT_File_Name->setText(
        QString::fromStdString(Ini_Read_String(ini, "string", "EDT_File_Name", "Img_")));
    ui_->EDT_FTP_Server_Name->setText(
        QString::fromStdString(Ini_Read_String(ini, "string", "EDT_FTP_Server_Name", "")));
    ui_->EDT_FTP_Login->setText(
        QString::fromStdString(Ini_Read_String(ini, "string", "EDT_FTP_Login", "")));
    ui_->EDT_FTP_Password->setText(
        QString::fromStdString(Ini_Read_String(ini, "string", "EDT_FTP_Password", "")));
}

void TF_Main::Save_Settings() {
    const auto integer = [](const char* key, int32_t value) {
        return Ini_Value{"integer", key, std::to_string(value)};
    };
    const auto text = [](const char* key, const std::string& value) {
        return Ini_Value{"string", key, value};
    };
    // One replacement of the file: a kill during the close leaves all the
    // old values or all the new ones, and a slow card is waited for once.
    Ini_Write_All(data_folder_ + "datas.ini",
                  {integer("RBT_Rec_Launch", (ui_->RBT_Rec_Launch_1->isChecked() ? 1 : 0) +
                                                 2 * (ui_->RBT_Rec_Launch_2->isChecked() ? 1 : 0)),
                   integer("RBT_Mode_Start", ui_->RBT_Mode_Start_1->isChecked() ? 1 : 0),
                   text("DED_Dest_Folder", ui_->DED_Dest_Folder->path().toStdString()),
                   integer("EDT_Seuil_Detect", Integer_Value(ui_->EDT_Seuil_Detect)),
                   integer("EDT_Nb_Max_File", Integer_Value(ui_->EDT_Nb_Max_File)),
                   integer("EDT_Timer_Refresh", Integer_Value(ui_->EDT_Timer_Refresh)),
                   integer("EDT_Delay_Avant_Rec", Integer_Value(ui_->EDT_Delay_Avant_Rec)),
                   integer("EDT_Delay_Apres_Rec", Integer_Value(ui_->EDT_Delay_Apres_Rec)),
                   integer("CBX_JPEG_Size", ui_->CBX_JPEG_Size->currentIndex()),
                   integer("CKB_Add_Time_Date", ui_->CKB_Add_Time_Date->isChecked()),
                   integer("CKB_Sensitivity_Dark", ui_->CKB_Sensitivity_Dark->isChecked()),
                   integer("CKB_Use_FTP", ui_->CKB_Use_FTP->isChecked()),
                   integer("CKB_Use_Same_File_Name", ui_->CKB_Use_Same_File_Name->isChecked()),
                   text("EDT_File_Name", Text_Of(ui_->EDT_File_Name)),
                   text("EDT_FTP_Server_Name", Text_Of(ui_->EDT_FTP_Server_Name)),
                   text("EDT_FTP_Login", Text_Of(ui_->EDT_FTP_Login)),
                   text("EDT_FTP_Password", Text_Of(ui_->EDT_FTP_Password))});
}

void TF_Main::Read_Parameters_From_Controls() {
    Working_Settings w;
    w.Minimized_Mode = ui_->RBT_Mode_Start_1->isChecked();
    w.Sampling_ms = Integer_Value(ui_->EDT_Timer_Refresh);
    w.Dest_Folder = ui_->DED_Dest_Folder->path().toStdString() + "/";
    w.Delay_Start_ms = Milliseconds_Of(Integer_Value(ui_->EDT_Delay_Avant_Rec));
    w.Delay_Stop_ms = Milliseconds_Of(Integer_Value(ui_->EDT_Delay_Apres_Rec));
    w.Threshold = Integer_Value(ui_->EDT_Seuil_Detect);
    w.Launch_Rec_Motion = ui_->RBT_Rec_Launch_2->isChecked();
    w.Launch_Rec = ui_->RBT_Rec_Launch_1->isChecked();
    w.Use_FTP = ui_->CKB_Use_FTP->isChecked();
    w.Use_Same_File_Name = ui_->CKB_Use_Same_File_Name->isChecked();
    w.Fixed_File_Name = Text_Of(ui_->EDT_File_Name);
    w.Max_Files = Integer_Value(ui_->EDT_Nb_Max_File);
    w.FTP_Server = Text_Of(ui_->EDT_FTP_Server_Name);
    w.FTP_Login = Text_Of(ui_->EDT_FTP_Login);
    w.FTP_Password = Text_Of(ui_->EDT_FTP_Password);
    // The minimum applies to the timer only: the edit keeps what was typed.
    if (w.Sampling_ms < kMinimum_Sampling_ms)
        w.Sampling_ms = kMinimum_Sampling_ms;
    {
        const std::lock_guard lock(working_mutex_);
        working_ = w;
    }
    if (TMR_Refresh_IMG.interval() != w.Sampling_ms)
        TMR_Refresh_IMG.setInterval(w.Sampling_ms);
    ui_->EDT_File_Name->setEnabled(w.Use_Same_File_Name);
    ui_->LBL_File_Name->setEnabled(w.Use_Same_File_Name);
}

Working_Settings TF_Main::Working() const {
    const std::lock_guard lock(working_mutex_);
    return working_;
}

// ---- What the tick shows ---------------------------------------------------

Working_Settings TF_Main::Read_Parameters() {
    Read_Parameters_From_Controls();
    return Working();
}

bool TF_Main::Add_Time_Date() const {
    return ui_->CKB_Add_Time_Date->isChecked();
}
bool TF_Main::Sensitivity_Dark() const {
    return ui_->CKB_Sensitivity_Dark->isChecked();
}
int TF_Main::Jpeg_Size_Index() const {
    return ui_->CBX_JPEG_Size->currentIndex();
}

void TF_Main::Set_Detect_Colour(uint32_t colour) {
    detect_colour_ = colour;
    Show_Panel_Colours();
}

void TF_Main::Show_Panel_Colours() {
    // Nobody sees the panels of a window in the tray or minimized, and the
    // armed indicator blinks at every tick: their colours are painted when
    // the window shows again.
    if (!isVisible() || isMinimized())
        return;
    if (shown_detect_colour_ != detect_colour_) {
        shown_detect_colour_ = detect_colour_;
        detect_panel_colour_->Set(Colour_Of(detect_colour_));
    }
    if (shown_rec_colour_ != rec_colour_) {
        shown_rec_colour_ = rec_colour_;
        rec_panel_colour_->Set(Colour_Of(rec_colour_));
    }
}

void TF_Main::Show_Live(const QImage& frame) {
    if (frame.isNull())
        return;
    has_shown_frame_ = true;
    // Weeks in the tray: nobody sees the picture, so it is not drawn; the
    // first tick after the window comes back shows the camera again.
    if (!isVisible() || isMinimized())
        return;
    ui_->IMG_WebCam->setPixmap(
        QPixmap::fromImage(Scale_For_Display(frame, ui_->IMG_WebCam->size())));
}

void TF_Main::Show_File_Name(const std::string& text) {
    ui_->PNL_Nom_File->setText(QString::fromStdString(text));
}

void TF_Main::Show_Folder_Name(const std::string& text) {
    ui_->PNL_Nom_Folder->setText(QString::fromStdString(text));
}

void TF_Main::Set_Rec_Panel(uint32_t colour, const std::string& caption) {
    ui_->PNL_Rec->setText(QString::fromStdString(caption));
    rec_colour_ = colour;
    Show_Panel_Colours();
}

void TF_Main::Set_Preview_Caption(const std::string& caption) {
    ui_->PNL_IMG_Pre->setText(QString::fromStdString(caption));
}

void TF_Main::Show_Previews(const Preview_Strip& previews) {
    QLabel* const thumbs[] = {ui_->IMG_Pre_1, ui_->IMG_Pre_2, ui_->IMG_Pre_3, ui_->IMG_Pre_4,
                              ui_->IMG_Pre_5, ui_->IMG_Pre_6, ui_->IMG_Pre_7};
    // The strip mostly shifts by one: move the thumbnails already made and
    // scale only the new picture.
    std::array<QPixmap, 7> shown;
    for (size_t i = 0; i < 7; ++i)
        shown[i] = thumbs[i]->pixmap();
    const std::array<qint64, 7> shown_keys = preview_keys_;
    for (size_t i = 0; i < 7; ++i) {
        const QImage& picture = previews.At(i);
        const qint64 key = picture.isNull() ? 0 : picture.cacheKey();
        if (key == preview_keys_[i])
            continue;
        preview_keys_[i] = key;
        if (key == 0) {
            thumbs[i]->clear();
            continue;
        }
        QPixmap thumbnail;
        for (size_t j = 0; j < 7; ++j)
            if (shown_keys[j] == key)
                thumbnail = shown[j];
        if (thumbnail.isNull())
            thumbnail = QPixmap::fromImage(
                picture.scaled(thumbs[i]->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        thumbs[i]->setPixmap(thumbnail);
    }
}

void TF_Main::Show_Detection(const std::string& text) {
    Set_Ticking_Text(status_panels_[1], text);
}

void TF_Main::Set_Gauge(int value) {
    ui_->PGB_Coef_Correl->setValue(value);
}

void TF_Main::Show_Processing_Time(const std::string& text) {
    Set_Ticking_Text(status_panels_[0], text);
}

void TF_Main::Set_Ticking_Text(QLabel* panel, const std::string& text) {
    // A panel whose height may follow its text asks the status bar to lay
    // out again at every new text, and the status bar then repaints all of
    // itself. Once laid out, the panel keeps the height it was given; a
    // later change of its font would not be followed.
    if (panel->isVisible() && panel->minimumHeight() != panel->maximumHeight())
        panel->setFixedHeight(panel->height());
    panel->setText(QString::fromStdString(text));
}

void TF_Main::Enable_FTP_Test(bool enabled) {
    ui_->BTN_FTP_Test->setEnabled(enabled);
}

void TF_Main::Show_Save_Problem(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (shown == ui_->LBL_Save_Problem->text())
        return;
    ui_->LBL_Save_Problem->setText(shown);
    ui_->LBL_Save_Problem->setToolTip(shown);
    ui_->LBL_Save_Problem->setVisible(!shown.isEmpty());
    // Once when a streak of failures begins, once when it ends: the words
    // over the strip stay for as long as it lasts.
    if (shown.isEmpty() == save_failing_) {
        save_failing_ = !shown.isEmpty();
        Notify(save_failing_ ? shown : QStringLiteral("Pictures are being saved again."),
               save_failing_);
    }
}

void TF_Main::Notify(const QString& text, bool problem) {
    if (services_.notify)
        services_.notify(text, problem);
    else if (tray_icon_.isVisible())
        tray_icon_.showMessage(kApp_Name, text,
                               problem ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
}

void TF_Main::TMR_Refresh_IMGTimer() {
    controller_.TMR_Refresh_IMGTimer();
    if (storage_settings_.keep_free)
        Update_Keeper();
    Show_Backlog();
    // Say so in plain words rather than leaving the picture blank.
    if (!has_shown_frame_)
        ui_->IMG_WebCam->setText(tr("No camera found"));
}

// ---- Window events ---------------------------------------------------------

bool TF_Main::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && !activated_) {
        activated_ = true;
        FormActivate();
    }
    return QMainWindow::event(e);
}

void TF_Main::showEvent(QShowEvent* e) {
    if (!placement_restored_) {
        placement_restored_ = true;
        Restore_Placement();
    }
    QMainWindow::showEvent(e);
    Show_Panel_Colours();
}

void TF_Main::closeEvent(QCloseEvent* e) {
    if (connection_test_running_) {
        // The test's connection is cut; the window closes once it returns.
        close_after_test_ = true;
        ftp_client_->Abort_Transfer();
        ftp_client_->Disconnect();
        ftp_client_->Close_For_Good();
        if (trust_question_)
            trust_question_->reject(); // nobody is left to answer it
        e->ignore();
        return;
    }
    e->accept();
    if (closed_) {
        // Asked again (a signal, the tray's Exit): whatever stopped the first
        // end of the run must not swallow this one.
        emit Closed();
        return;
    }
    closed_ = true;
    Close_Open_Windows();
    FormClose();
    emit Closed();
}

void TF_Main::Close_Open_Windows() {
    // Each ends its own event loop, so that the code waiting on it returns
    // with "no" and the run can end.
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other == this || !other->isVisible())
            continue;
        if (auto* menu = qobject_cast<QMenu*>(other))
            menu->close();
        else if (auto* dialog = qobject_cast<QDialog*>(other))
            dialog->done(QDialog::Rejected);
    }
}

void TF_Main::Show_From_Another_Start() {
    if (closed_)
        return;
    if (!isVisible()) {
        // In the notification area: as the tray menu's Restore would.
        MNI_RestoreClick();
        return;
    }
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    // Qt may not know yet that the window manager minimized the window, and
    // then asks nothing of it.
    Bring_Forward_As_Taskbar(*this);
}

void TF_Main::changeEvent(QEvent* e) {
    if (e->type() == QEvent::WindowStateChange && isMinimized())
        AEV_AppliMinimize();
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange)
        Show_Panel_Colours();
}

void TF_Main::Restore_Placement() {
    const auto stored = Load_Window_Placement(data_folder_ + "appli.ini");
    if (!stored) {
        // The design placement. Moving a window that Qt already has at 0, 0
        // changes nothing, and the window manager would choose the place: the
        // native window is told its position was asked for.
        move(0, 0);
        if (QWindow* native = windowHandle())
            native->setFramePosition(QPoint(0, 0));
        return;
    }
    const Window_Placement p = Move_Into_Desktop(*stored, services_.desktop());
    setGeometry(p.left, p.top, p.Width(), p.Height());
    // A window left minimized opens normally: a window that starts iconic may
    // never be activated, and sampling starts at the first activation. The
    // minimized launch mode is the way to start in the notification area.
    if (p.show == kShow_Maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TF_Main::Save_Placement() {
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    Window_Placement p;
    p.show = isMinimized() ? kShow_Minimized : isMaximized() ? kShow_Maximized : kShow_Normal;
    p.flags = (isMinimized() && (windowState() & Qt::WindowMaximized)) ? 2 : 0;
    p.left = normal.left();
    p.top = normal.top();
    p.right = normal.left() + normal.width();
    p.bottom = normal.top() + normal.height();
    Save_Window_Placement(data_folder_ + "appli.ini", p);
}

// ---- Tray icon and minimized mode ------------------------------------------

bool TF_Main::Tray_Icon_Shown() const {
    return tray_icon_.isVisible() && services_.tray_available();
}

void TF_Main::Tray_Icon_Message(QSystemTrayIcon::ActivationReason reason) {
    // Only the right button opens the menu; left clicks, double clicks and
    // the middle button do nothing.
    if (reason != QSystemTrayIcon::Context)
        return;
    // A host that asks for the menu without showing it gets it at the
    // pointer; where the icon showed it already, nothing more is done.
    if (!PPM_Appli.isVisible())
        PPM_Appli.popup(QCursor::pos());
}

void TF_Main::MNI_MinimizeClick() {}

void TF_Main::MNI_RestoreClick() {
    if (!isVisible())
        Start_Normal_When_Mapped(*this);
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    // Back from the tray the window has no taskbar entry, whatever the
    // launch mode; it gets one again when minimized in normal mode.
    if (services_.skip_taskbar)
        services_.skip_taskbar(*this, true);
}

void TF_Main::MNI_ExitClick() {
    close();
}

void TF_Main::AEV_AppliMinimize() {
    // Hidden only while the icon is really in a notification area: otherwise
    // the window stays minimized with its taskbar entry, never out of reach.
    if (Working().Minimized_Mode && Tray_Icon_Shown()) {
        hide();
        return;
    }
    if (services_.skip_taskbar)
        services_.skip_taskbar(*this, false);
}

void TF_Main::TMR_Tray_WatchTimer() {
    if (closed_)
        return;
    const bool in_tray = !isVisible() && activated_;
    if (in_tray && !Tray_Icon_Shown()) {
        // The panel went away: back to the taskbar, still minimized.
        if (services_.skip_taskbar)
            services_.skip_taskbar(*this, false);
        showMinimized();
    } else if (isVisible() && isMinimized() && Working().Minimized_Mode && Tray_Icon_Shown()) {
        // A panel that came after the program: the minimized window goes
        // where the launch mode wants it.
        hide();
    }
}

// ---- Upload --------------------------------------------------------------

void TF_Main::FTP_ClientStatus(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) {
        ui_->LBL_FTP_Status->setText(shown);
        ui_->LBL_FTP_Status->repaint();
        return;
    }
    QMetaObject::invokeMethod(
        ui_->LBL_FTP_Status, [label = ui_->LBL_FTP_Status, shown] { label->setText(shown); },
        Qt::QueuedConnection);
}

void TF_Main::Show_Upload_File(const std::string& name) {
    QMetaObject::invokeMethod(
        ui_->LBL_FTP_File,
        [label = ui_->LBL_FTP_File, shown = QString::fromStdString(name)] {
            label->setText(shown);
        },
        Qt::QueuedConnection);
}

void TF_Main::Show_Backlog() {
    const size_t waiting = files_.Unsent_Count();
    const size_t shown = waiting > 1 ? waiting : 0;
    // Refusals only ever add up, and are rare: the text is made afresh only
    // while there are some.
    const size_t refused = worker_ ? worker_->Refused_Count() : 0;
    if (shown == shown_backlog_ && refused == 0)
        return;
    shown_backlog_ = shown;
    QStringList parts;
    if (shown > 0)
        parts << tr("%1 pictures waiting to be sent").arg(shown);
    if (refused > 0)
        parts << tr("%1 pictures refused by the server (listed in %2)")
                     .arg(refused)
                     .arg(QString::fromStdString(data_folder_ + kUpload_Refused_File_Name));
    const QString text = parts.join(QLatin1Char('\n'));
    if (ui_->PNL_FTP_Status_Main->toolTip() != text)
        ui_->PNL_FTP_Status_Main->setToolTip(text);
}

void TF_Main::Close_Upload() {
    if (!worker_)
        return;
    // No run starts any more, not even one woken just before the close.
    const bool running = worker_->Active();
    worker_->Terminate();
    if (running) {
        // ABOR and QUIT where a server listens; a connection still being set
        // up is cut without a word.
        ftp_client_->Abort_Transfer();
        ftp_client_->Disconnect();
    }
    // Whatever the run does next (a name lookup, a connect, a wait for a
    // reply) fails at once, so that the program ends without waiting for it.
    ftp_client_->Close_For_Good();
}

void TF_Main::BTN_FTP_TestClick() {
    if (!worker_ || connection_test_running_)
        return;
    connection_test_running_ = true;
    Read_Parameters_From_Controls();
    // No run may start until the test ends, and the one in progress is
    // waited for with the window responsive.
    worker_->Hold(true);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (worker_->FTP_Busy() || worker_->Active())
            QThread::msleep(10);
    } while (worker_->FTP_Busy() || worker_->Active());
    if (close_after_test_) {
        // The window was closed meanwhile: no new connection for a test
        // nobody waits for.
        worker_->Hold(false);
        connection_test_running_ = false;
        close();
        return;
    }

    Connection_Test_Outcome outcome;
    for (;;) {
        outcome = Run_Connection_Test_Beside_Window(Working());
        // A certificate the user trusts is pinned, and the test goes on with
        // a connection that uses the pin.
        if (outcome.unknown_key) {
            if (close_after_test_ || !Ask_To_Trust(*outcome.unknown_key))
                break;
            try {
                Trust_Host_Key(data_folder_ + kKnown_Hosts_File_Name, *outcome.unknown_key);
            } catch (const std::exception& e) {
                outcome.failure = std::string("Cannot keep the trusted host key: ") + e.what();
                break;
            }
            continue;
        }
        if (!outcome.untrusted || close_after_test_ || !Ask_To_Trust(*outcome.untrusted))
            break;
        try {
            Trusted_Servers(data_folder_ + Trusted_Servers::kFile_Name)
                .Pin(outcome.untrusted->Host(), outcome.untrusted->Port(),
                     outcome.untrusted->Peer().Certificate.Fingerprint);
        } catch (const std::exception& e) {
            outcome.failure = std::string("Cannot keep the trusted certificate: ") + e.what();
            break;
        }
    }

    if (outcome.sent && outcome.failure.empty()) {
        ui_->LBL_FTP_File->setText(QString::fromLatin1(kConnection_Test_Success));
        worker_->Connection_Test_Succeeded();
    }
    Read_Parameters_From_Controls();
    worker_->Hold(false);
    connection_test_running_ = false;
    if (close_after_test_) {
        close();
        return;
    }
    if (!outcome.failure.empty())
        Tell_Window_Modal(this, QMessageBox::Critical,
                          QString::fromStdString(Error_Box_Text(outcome.failure)));
}

TF_Main::Connection_Test_Outcome
TF_Main::Run_Connection_Test_Beside_Window(const Working_Settings& settings) {
    // The test itself runs beside the window, so that sampling and recording
    // go on while a slow server is waited for.
    Connection_Test_Outcome outcome;
    std::atomic<bool> finished{false};
    QEventLoop waiting;
    std::thread test([&] {
        try {
            outcome.sent = Run_Connection_Test(*ftp_client_, settings, data_folder_ + "datas.ini");
        } catch (const Host_Key_Error& e) {
            outcome.failure = e.what();
            if (e.Problem() == Host_Key_Problem::Unknown)
                outcome.unknown_key = e;
        } catch (const Certificate_Error& e) {
            outcome.failure = e.what();
            const Certificate_Problem problem = e.Problem();
            if (problem == Certificate_Problem::Untrusted ||
                problem == Certificate_Problem::Changed)
                outcome.untrusted = e;
        } catch (const std::exception& e) {
            outcome.failure = e.what();
            if (outcome.failure.empty())
                outcome.failure = "The FTP connection test failed";
        } catch (...) {
            outcome.failure = "The FTP connection test failed";
        }
        finished = true;
        QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    waiting.exec();
    if (!finished) {
        // The event loop was ended from outside: cut the test short rather
        // than wait for a slow server with the window frozen.
        ftp_client_->Abort_Transfer();
        ftp_client_->Disconnect();
        ftp_client_->Close_For_Good();
    }
    test.join();
    return outcome;
}

bool TF_Main::Ask_To_Trust(const Certificate_Error& refused) {
    if (services_.confirm_certificate)
        return services_.confirm_certificate(refused);
    return Ask_Trust_Question(Trust_Question(refused), Trust_Question_Details(refused));
}

bool TF_Main::Ask_To_Trust(const Host_Key_Error& refused) {
    if (services_.confirm_host_key)
        return services_.confirm_host_key(refused);
    return Ask_Trust_Question("Trust this server?",
                              "The authenticity of host " +
                                  Host_And_Port(refused.Host(), refused.Port()) +
                                  " can't be established.\n" + refused.Key_Type() +
                                  " key fingerprint is " + refused.Fingerprint() + ".");
}

bool TF_Main::Ask_Trust_Question(const std::string& question_text, const std::string& details) {
    QMessageBox question(QMessageBox::Question, kApp_Name, QString::fromStdString(question_text),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setInformativeText(QString::fromStdString(details));
    question.setDefaultButton(QMessageBox::No);
    trust_question_ = &question;
    const int answer = Exec_Window_Modal(question);
    trust_question_ = nullptr;
    return answer == QMessageBox::Yes && !close_after_test_;
}

// ---- Update check ----------------------------------------------------------

void TF_Main::TMR_UpdateTimer() {
    TMR_Update.stop(); // once per run
    Get_Remote_Version();
}

void TF_Main::Get_Remote_Version() {
    if (!services_.HTP_Check_Ver)
        return;
    // The answer is awaited off the GUI thread; the check goes on here.
    version_fetch_ = services_.HTP_Check_Ver(
        services_.web.version.toStdString(), [this](std::optional<std::string> body) {
            QMetaObject::invokeMethod(
                this, [this, body = std::move(body)] { Continue_Update_Check(body); },
                Qt::QueuedConnection);
        });
}

void TF_Main::Continue_Update_Check(const std::optional<std::string>& body) {
    // An answer that comes after the close opens no page and no dialog.
    if (closed_)
        return;
    version_fetch_.reset();
    const std::string local = kVersion_Local.toStdString();
    const std::string remote = body ? Version_Remote_From(*body) : std::string();
    const bool newer = Is_Newer(remote, local);
    const bool old = Is_Old(services_.program_modified(), services_.now());
    LBL_UpdateClick();
    if (!newer && !old)
        return;
    TF_Update dialog(this);
    dialog.App_Name = kApp_Name.toStdString();
    dialog.Version_Local = local;
    dialog.Version_URL = services_.web.version.toStdString();
    dialog.Version_Remote = remote;
    if (Exec_Window_Modal(dialog) == TF_Update::kYes) {
        LBL_UpdateClick();
        // Ending the program the normal way keeps the settings changed in
        // this run.
        close();
    }
}

// ---- Links -----------------------------------------------------------------

void TF_Main::LBL_UpdateClick() {
    if (!ui_->LBL_Update->isEnabled())
        return;
    // A page that cannot be opened once will not open later in this run.
    if (!services_.open_url(QUrl(services_.web.download)))
        ui_->LBL_Update->setEnabled(false);
}

void TF_Main::BTN_UpdateClick() {
    LBL_UpdateClick();
}

void TF_Main::BTN_PaypalClick() {
    if (!services_.web.donation.isEmpty())
        services_.open_url(QUrl(services_.web.donation));
}

void TF_Main::BTN_Site_KestoClick() {
    services_.open_url(QUrl(services_.web.site));
}

} // namespace vistrel
