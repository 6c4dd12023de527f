// Vistrel: watches one webcam and keeps pictures of what moves in front of it.
#include "app/app_constants.h"
#include "app/platform_choice.h"
#include "app/signal_bridge.h"
#include "capture/camera_choice.h"
#include "capture/gst_frame_source.h"
#include "settings/data_folder.h"
#include "settings/file_helpers.h"
#include "ui/main_window.h"

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
    QApplication::setApplicationName(vistrel::kApp_Name);
    QApplication::setDesktopFileName(QStringLiteral("vistrel"));
    // The window may hide in the notification area and dialogs come and go:
    // the program ends when its main window closes, not when the last window
    // disappears.
    QApplication::setQuitOnLastWindowClosed(false);
    Q_INIT_RESOURCE(vistrel);

    // Listening before anything else, so that a stop request during start-up
    // is served once the window is there.
    std::unique_ptr<vistrel::TF_Main> window;
    const vistrel::Signal_Bridge stop_on_signal([&window] {
        if (window)
            window->close();
    });

    // VISTREL_CAMERA wins over the camera picked in the window.
    const std::string data_folder = vistrel::Data_Folder_Path();
    // A kill while a settings file was being saved leaves its temporary file.
    for (const char* name : {"datas.ini", "appli.ini", "camera.ini", "upload_queue"})
        vistrel::Remove_Stale_Temporaries(data_folder + name);
    std::string camera = vistrel::Gst_Frame_Source::Default_Description();
    const bool camera_from_environment = !camera.empty();
    if (!camera_from_environment)
        camera = vistrel::Load_Camera_Choice(data_folder);

    auto services = vistrel::Main_Window_Services::Standard(
        std::make_unique<vistrel::Gst_Frame_Source>(camera));
    services.camera_description = camera;
    if (!camera_from_environment) {
        services.list_cameras = [] { return vistrel::Gst_Frame_Source::List_Cameras(); };
        services.make_camera = [](const std::string& description) {
            return std::make_unique<vistrel::Gst_Frame_Source>(description);
        };
    }
    window = std::make_unique<vistrel::TF_Main>(std::move(services));
    QObject::connect(window.get(), &vistrel::TF_Main::Closed, &app, &QApplication::quit,
                     Qt::QueuedConnection);

    window->show();
    // Without a window manager nothing activates the window, and the first
    // activation is what loads the settings and starts sampling.
    window->activateWindow();

    const int result = app.exec();
    window.reset(); // saves the window's place, releases the camera and the icon
    return result;
}
