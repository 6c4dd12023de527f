// Vistrel: watches one webcam and keeps pictures of what moves in front of it.
#include "app/signal_bridge.h"
#include "app/single_instance.h"
#include "app/vistrel_app.h"
#include "base/file_helpers.h"
#include "base/program_identity.h"
#include "capture/camera_choice.h"
#include "capture/gst_frame_source.h"
#include "desktop/platform_choice.h"
#include "settings/data_folder.h"
#include "settings/storage_settings.h"
#include "ui/main_window.h"
#include "upload/server_trust.h"
#include "upload/sftp_client.h"
#include "upload/upload_queue_file.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    const bool platform_chosen = vistrel::Choose_Qt_Platform_From_Environment();
    QApplication app(argc, argv);
    if (platform_chosen)
        ::unsetenv("QT_QPA_PLATFORM");
    // No display name: Qt would append it to every window title on X11, and
    // the dialogs' titles must read as they are.
    QApplication::setApplicationName(QString::fromLatin1(vistrel::kApp_Name));
    QApplication::setDesktopFileName(QStringLiteral("vistrel"));
    // The window may hide in the notification area and dialogs come and go:
    // the program ends when its main window closes, not when the last window
    // disappears.
    QApplication::setQuitOnLastWindowClosed(false);
    Q_INIT_RESOURCE(vistrel);

    // Before anything reads or changes the data folder: a second start only
    // brings the running Vistrel's window forward.
    const std::string data_folder = vistrel::Data_Folder_Path();
    vistrel::Single_Instance instance(data_folder);
    if (!instance.Acquire()) {
        instance.Ask_Running_To_Show();
        return 0;
    }

    // Listening before anything else, so that a stop request during start-up
    // is served once the window is there.
    std::unique_ptr<vistrel::Vistrel_App> program;
    const vistrel::Signal_Bridge stop_on_signal([&program] {
        if (program)
            program->Window().close();
    });

    // A kill while a settings file was being saved leaves its temporary file.
    for (const char* name :
         {"datas.ini", "appli.ini", "camera.ini", vistrel::kUpload_Queue_File_Name,
          vistrel::Storage_Settings::kFile_Name, vistrel::Trusted_Servers::kFile_Name,
          vistrel::kKnown_Hosts_File_Name})
        vistrel::Remove_Stale_Temporaries(data_folder + name);
    // VISTREL_CAMERA wins over the camera picked in the window.
    std::string camera = vistrel::Gst_Frame_Source::Default_Description();
    const bool camera_from_environment = !camera.empty();
    if (!camera_from_environment)
        camera = vistrel::Load_Camera_Choice(data_folder);

    auto services =
        vistrel::App_Services::Standard(std::make_unique<vistrel::Gst_Frame_Source>(camera));
    services.camera_description = camera;
    if (!camera_from_environment) {
        services.list_cameras = [] { return vistrel::Gst_Frame_Source::List_Cameras(); };
        services.make_camera = [](const std::string& description) {
            return std::make_unique<vistrel::Gst_Frame_Source>(description);
        };
    }
    program = std::make_unique<vistrel::Vistrel_App>(std::move(services));
    // exit, not quit: a newer Qt's quit asks every window to close first, and
    // a dialog that refuses (the update dialog has no way to be closed but
    // its buttons) would cancel the end after the window already closed.
    // exit ends every event loop, the dialogs' own included.
    QObject::connect(
        program.get(), &vistrel::Vistrel_App::Closed, &app, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    QObject::connect(&instance, &vistrel::Single_Instance::Show_Requested, program.get(),
                     &vistrel::Vistrel_App::Show_From_Another_Start);

    program->Window().show();
    // Without a window manager nothing activates the window, and the first
    // activation is what loads the settings and starts sampling.
    program->Window().activateWindow();

    const int result = app.exec();
    stop_on_signal.Tearing_Down();
    program.reset(); // saves the window's place, releases the camera and the icon
    return result;
}
