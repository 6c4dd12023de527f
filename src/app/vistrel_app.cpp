// How the parts of the program are made and joined. The order of start-up
// and close is in lifecycle.cpp.
#include "app/vistrel_app.h"

#include "app/connection_test_flow.h"
#include "app/detection_flow.h"
#include "app/episodes_flow.h"
#include "app/notify_flow.h"
#include "recording/storage_layout.h"
#include "ui/form_placement.h"
#include "ui/form_recording_view.h"
#include "ui/main_window.h"
#include "ui/picture_menu.h"
#include "ui/settings_form.h"
#include "ui/storage_dialog.h"
#include "ui/tray_presence.h"
#include "ui/trust_question_box.h"
#include "ui/upload_status.h"
#include "ui/web_links.h"
#include "ui/window_modal.h"
#include "ui_UF_Main.h"
#include "update/update_check.h"
#include "upload/connection_test.h"
#include "upload/trust_prompt.h"

#include <QCloseEvent>

#include <unordered_set>

namespace vistrel {

namespace {

// The question box, unless the world answers for the user (tests).
class Answered_Or_Asked : public Trust_Prompt {
public:
    Answered_Or_Asked(QWidget* window, const App_Services& services)
        : box_(window), certificate_(services.confirm_certificate),
          host_key_(services.confirm_host_key) {}
    bool Trust(const Certificate_Error& refused) override {
        return certificate_ ? certificate_(refused) : box_.Trust(refused);
    }
    bool Trust(const Host_Key_Error& refused) override {
        return host_key_ ? host_key_(refused) : box_.Trust(refused);
    }
    void Cancel() override { box_.Cancel(); }

private:
    Trust_Question_Box box_;
    std::function<bool(const Certificate_Error&)> certificate_;
    std::function<bool(const Host_Key_Error&)> host_key_;
};

} // namespace

Vistrel_App::Vistrel_App(App_Services services)
    : services_(std::move(services)), data_folder_(services_.data_folder),
      camera_(std::move(services_.camera)), camera_description_(services_.camera_description) {
    Build_Parts();
    Connect_Parts();
    FormCreate();
}

Ui::F_Main& Vistrel_App::Form() {
    return window_->Form();
}

void Vistrel_App::Build_Parts() {
    window_ = std::make_unique<TF_Main>();
    Ui::F_Main& ui = window_->Form();
    settings_form_ = std::make_unique<Settings_Form>(ui, working_, nullptr);
    view_ = std::make_unique<Form_Recording_View>(*window_, *settings_form_);
    upload_status_ = std::make_unique<Upload_Status>(ui, data_folder_ + kUpload_Refused_File_Name);
    tray_ = std::make_unique<Tray_Presence>(
        *window_, ui.MNI_Minimize, ui.MNI_Restore, ui.MNI_Exit,
        Tray_Hooks{services_.tray_available, services_.skip_taskbar,
                   [this] { return Working().Minimized_Mode; },
                   [this] { return window_->Activated(); }, services_.notify});
    picture_menu_ = std::make_unique<Picture_Menu>(
        *ui.IMG_WebCam, *window_,
        Picture_Menu_Hooks{services_.list_cameras, bool(services_.make_camera),
                           [this] { return camera_description_; }, services_.autostart_file,
                           services_.program_path});
    links_ = std::make_unique<Web_Links>(
        ui, Link_Addresses{services_.web.download, services_.web.site, services_.web.donation},
        services_.open_url, nullptr);

    controller_ = std::make_unique<Recording_Controller>(*view_, camera_, *services_.clock, files_,
                                                         [this] { upload_->Wake(); });
    std::unique_ptr<Ftp_Session> session;
    if (services_.make_ftp_client)
        session =
            services_.make_ftp_client([status = upload_status_.get()](const std::string& text) {
                status->FTP_ClientStatus(text);
            });
    upload_ = std::make_unique<Upload_Service>(
        std::move(session), files_,
        Upload_Worker::Hooks{[this] { return Working(); },
                             [status = upload_status_.get()](const std::string& name) {
                                 status->Show_Upload_File(name);
                             },
                             nullptr, data_folder_ + kUpload_Refused_File_Name});
    trust_prompt_ = std::make_unique<Answered_Or_Asked>(window_.get(), services_);
    connection_test_ = std::make_unique<Connection_Test_Flow>(
        *upload_, *trust_prompt_, data_folder_,
        Connection_Test_Hooks{
            [this] { return settings_form_->Read_Parameters_From_Controls(); },
            [this] { Form().LBL_FTP_File->setText(QString::fromLatin1(kConnection_Test_Success)); },
            [this](const std::string& message) {
                Tell_Window_Modal(window_.get(), QMessageBox::Critical,
                                  QString::fromStdString(message));
            }});

    detection_ = std::make_unique<Detection_Flow>(*window_, *controller_, data_folder_);
    notify_ = std::make_unique<Notify_Flow>(
        *window_, *controller_, data_folder_,
        [this](const QString& text, bool problem) { Notify(text, problem); });
    episodes_ = std::make_unique<Episodes_Flow>(
        *window_,
        Episodes_Flow::Sources{[this] { return Working().Dest_Folder; }, &files_,
                               data_folder_ + kUpload_Refused_File_Name,
                               [this] {
                                   const Recording_State& s = controller_->State();
                                   return s.Rec_Continuous || s.Rec_Armed
                                              ? controller_->Last_Episode_Folder()
                                              : std::string();
                               }},
        services_.episodes);
    storage_settings_ = Storage_Settings::Load(data_folder_);
    keeper_ = Make_Keeper();
    updates_ = std::make_unique<Update_Check>(
        *window_, Update_Check_Hooks{services_.HTP_Check_Ver, services_.web.version,
                                     services_.program_modified, services_.now});
}

std::unique_ptr<Storage_Keeper> Vistrel_App::Make_Keeper() {
    return std::make_unique<Storage_Keeper>(Keeper_Hooks{
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
}

void Vistrel_App::Connect_Parts() {
    TF_Main& window = *window_;
    Ui::F_Main& ui = window.Form();
    // Created disabled; the first activation starts it.
    TMR_Refresh_IMG.setInterval(100);
    connect(&TMR_Refresh_IMG, &QTimer::timeout, this, &Vistrel_App::TMR_Refresh_IMGTimer);
    connect(settings_form_.get(), &Settings_Form::Sampling_Period, this, [this](int period) {
        if (TMR_Refresh_IMG.interval() != period)
            TMR_Refresh_IMG.setInterval(period);
    });
    connect(&window, &TF_Main::Timing_Edit_Left, settings_form_.get(),
            &Settings_Form::Read_Parameters_From_Controls);

    connect(&window, &TF_Main::First_Activation, this, &Vistrel_App::FormActivate);
    connect(&window, &TF_Main::First_Show, this, [this] {
        Restore_Placement(*window_, data_folder_ + "appli.ini", services_.desktop());
    });
    connect(&window, &TF_Main::Became_Visible, view_.get(),
            &Form_Recording_View::Show_Panel_Colours);
    connect(&window, &TF_Main::Minimized, tray_.get(), &Tray_Presence::AEV_AppliMinimize);
    connect(&window, &TF_Main::Close_Asked, this, &Vistrel_App::Close_Asked);

    connect(ui.BTN_Start_Stop_Rec, &QAbstractButton::clicked, this,
            [this] { controller_->BTN_Start_Stop_RecClick(); });
    connect(ui.BTN_Start_Stop_Rec_Detect, &QAbstractButton::clicked, this,
            [this] { controller_->BTN_Start_Stop_Rec_DetectClick(); });
    connect(ui.BTN_Stop, &QAbstractButton::clicked, this, [this] { controller_->BTN_StopClick(); });
    connect(ui.BTN_FTP_Test, &QAbstractButton::clicked, this, &Vistrel_App::BTN_FTP_TestClick);
    connect(connection_test_.get(), &Connection_Test_Flow::Closing_Can_Go_On, &window,
            &QWidget::close);

    connect(view_.get(), &Form_Recording_View::Notice, this, &Vistrel_App::Notify);
    connect(picture_menu_.get(), &Picture_Menu::Camera_Chosen, this, &Vistrel_App::Use_Camera);
    connect(picture_menu_.get(), &Picture_Menu::Storage_Asked, this,
            &Vistrel_App::MNI_StorageClick);
    connect(picture_menu_.get(), &Picture_Menu::Detection_Asked, this,
            &Vistrel_App::MNI_DetectionClick);
    connect(picture_menu_.get(), &Picture_Menu::Notifications_Asked, this,
            &Vistrel_App::MNI_NotifyClick);
    connect(picture_menu_.get(), &Picture_Menu::Episodes_Asked, this,
            &Vistrel_App::MNI_EpisodesClick);
    connect(tray_.get(), &Tray_Presence::Episodes_Asked, this, &Vistrel_App::MNI_EpisodesClick);
    connect(updates_.get(), &Update_Check::Open_Download_Page, links_.get(),
            &Web_Links::LBL_UpdateClick);
    connect(updates_.get(), &Update_Check::Exit_Asked, &window, &QWidget::close);
    controller_->On_New_Episode_Folder([this](const std::string& folder) {
        if (keeper_)
            keeper_->Set_Current_Episode(folder);
    });
}

void Vistrel_App::TMR_Refresh_IMGTimer() {
    controller_->TMR_Refresh_IMGTimer();
    detection_->Show_Tick();
    if (storage_settings_.keep_free)
        Update_Keeper();
    Upload_Worker* worker = upload_->Worker();
    upload_status_->Show_Backlog(files_.Unsent_Count(), worker ? worker->Refused_Count() : 0);
    // Say so in plain words rather than leaving the picture blank.
    view_->Show_No_Camera_Yet();
}

void Vistrel_App::BTN_FTP_TestClick() {
    connection_test_->BTN_FTP_TestClick();
}

bool Vistrel_App::Connection_Test_Running() const {
    return connection_test_->Running();
}

void Vistrel_App::Load_Settings() {
    settings_form_->Show(
        Load_Stored_Settings(data_folder_ + "datas.ini", services_.default_dest_folder()));
}

void Vistrel_App::Save_Settings() {
    Save_Stored_Settings(data_folder_ + "datas.ini", settings_form_->Values());
}

void Vistrel_App::MNI_DetectionClick() {
    detection_->Open();
}

void Vistrel_App::MNI_NotifyClick() {
    notify_->Open();
}

void Vistrel_App::MNI_EpisodesClick() {
    if (!closed_)
        episodes_->Open();
}

void Vistrel_App::MNI_StorageClick() {
    // The keeper's latest words, and the disk's size, beside the setting:
    // more than half of the disk is refused there.
    const std::optional<Disk_Space> disk = Measure_Disk_Space(Working().Dest_Folder);
    TF_Storage dialog(storage_settings_, window_.get(),
                      disk ? std::optional<uint64_t>(disk->size) : std::nullopt,
                      [this] { return keeper_ ? keeper_->Status_Text() : std::string(); });
    if (Exec_Window_Modal(dialog) == QDialog::Accepted)
        Apply_Storage_Settings(dialog.Settings());
}

bool Vistrel_App::Apply_Storage_Settings(const Storage_Settings& settings) {
    try {
        settings.Save(data_folder_);
    } catch (const std::exception& e) {
        Tell_Window_Modal(
            window_.get(), QMessageBox::Warning,
            tr("The storage setting could not be saved: %1").arg(QString::fromLocal8Bit(e.what())));
        return false;
    }
    storage_settings_ = settings;
    Update_Keeper();
    return true;
}

void Vistrel_App::Update_Keeper() {
    if (!keeper_)
        return;
    const Working_Settings w = Working();
    Keeper_Inputs inputs;
    inputs.dest_folder = w.Dest_Folder;
    inputs.keep_free_bytes = storage_settings_.keep_free ? storage_settings_.Keep_Free_Bytes() : 0;
    inputs.current_episode = controller_->Last_Episode_Folder();
    inputs.fixed_picture = w.Dest_Folder + w.Fixed_File_Name + ".jpg";
    keeper_->Update(inputs);
    // Told once when the keeper cannot keep the space, not at every pass.
    if (const std::optional<std::string> notice = keeper_->Take_Notice())
        Notify(QString::fromStdString(*notice), true);
}

void Vistrel_App::Use_Camera(const std::string& description) {
    camera_description_ = description;
    Save_Camera_Choice(data_folder_, description);
    camera_.Switch_To(services_.make_camera(description));
    view_->Forget_Live_Picture();
}

void Vistrel_App::Notify(const QString& text, bool problem) {
    tray_->Notify(text, problem);
}

void Vistrel_App::Show_From_Another_Start() {
    if (!closed_)
        tray_->Show_From_Another_Start();
}

} // namespace vistrel
