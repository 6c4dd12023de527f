// Vistrel: watches one webcam and keeps pictures of what moves in front of it.
#include "app/app_constants.h"
#include "app/signal_bridge.h"
#include "capture/gst_frame_source.h"
#include "ui/main_window.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(vistrel::kApp_Name);
    QApplication::setApplicationDisplayName(vistrel::kApp_Name);
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

    window = std::make_unique<vistrel::TF_Main>(
        vistrel::Main_Window_Services::Standard(std::make_unique<vistrel::Gst_Frame_Source>()));
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
