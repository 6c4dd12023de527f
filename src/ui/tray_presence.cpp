#include "ui/tray_presence.h"

#include "base/program_identity.h"
#include "desktop/taskbar_entry.h"

#include <QAction>
#include <QCursor>
#include <QMainWindow>

namespace vistrel {

Tray_Presence::Tray_Presence(QMainWindow& window, QAction* minimize, QAction* restore,
                             QAction* exit, Tray_Hooks hooks)
    : QObject(&window), window_(window), hooks_(std::move(hooks)) {
    connect(PPM_Appli.addAction(QStringLiteral("Episodes...")), &QAction::triggered, this,
            &Tray_Presence::Episodes_Asked);
    PPM_Appli.addAction(minimize);
    PPM_Appli.addAction(restore);
    PPM_Appli.addAction(exit);
    connect(minimize, &QAction::triggered, this, &Tray_Presence::MNI_MinimizeClick);
    connect(restore, &QAction::triggered, this, &Tray_Presence::MNI_RestoreClick);
    connect(exit, &QAction::triggered, this, &Tray_Presence::MNI_ExitClick);
    // The icon shows the menu itself, wherever it lives (an X11 tray or a
    // StatusNotifier host); Tray_Icon_Message covers the rest.
    tray_icon_.setContextMenu(&PPM_Appli);
    connect(&tray_icon_, &QSystemTrayIcon::activated, this, &Tray_Presence::Tray_Icon_Message);
    tray_icon_.setIcon(window.windowIcon());
    tray_icon_.setToolTip(kApp_Name);
    // Seldom enough to cost nothing, often enough that a panel started after
    // the program takes the window soon.
    TMR_Tray_Watch.setInterval(2000);
    connect(&TMR_Tray_Watch, &QTimer::timeout, this, &Tray_Presence::TMR_Tray_WatchTimer);
}

void Tray_Presence::Show() {
    tray_icon_.show();
    TMR_Tray_Watch.start();
}

void Tray_Presence::Hide() {
    TMR_Tray_Watch.stop();
    tray_icon_.hide();
}

bool Tray_Presence::Tray_Icon_Shown() const {
    return tray_icon_.isVisible() && hooks_.tray_available();
}

void Tray_Presence::Skip_Taskbar(bool skip) {
    if (hooks_.skip_taskbar)
        hooks_.skip_taskbar(window_, skip);
}

void Tray_Presence::Tray_Icon_Message(QSystemTrayIcon::ActivationReason reason) {
    // Only the right button opens the menu; left clicks, double clicks and
    // the middle button do nothing.
    if (reason != QSystemTrayIcon::Context)
        return;
    // A host that asks for the menu without showing it gets it at the
    // pointer; where the icon showed it already, nothing more is done.
    if (!PPM_Appli.isVisible())
        PPM_Appli.popup(QCursor::pos());
}

void Tray_Presence::MNI_MinimizeClick() {}

void Tray_Presence::MNI_RestoreClick() {
    if (!window_.isVisible())
        Start_Normal_When_Mapped(window_);
    window_.setWindowState((window_.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window_.show();
    window_.raise();
    window_.activateWindow();
    // Back from the tray the window has no taskbar entry, whatever the
    // launch mode; it gets one again when minimized in normal mode.
    Skip_Taskbar(true);
}

void Tray_Presence::MNI_ExitClick() {
    window_.close();
}

void Tray_Presence::AEV_AppliMinimize() {
    // Hidden only while the icon is really in a notification area: otherwise
    // the window stays minimized with its taskbar entry, never out of reach.
    if (hooks_.minimized_mode() && Tray_Icon_Shown()) {
        window_.hide();
        return;
    }
    Skip_Taskbar(false);
}

void Tray_Presence::TMR_Tray_WatchTimer() {
    if (closed_)
        return;
    // Before the first activation the window is hidden, not in the tray.
    const bool in_tray = !window_.isVisible() && hooks_.activated();
    if (in_tray && !Tray_Icon_Shown()) {
        // The panel went away: back to the taskbar, still minimized.
        Skip_Taskbar(false);
        window_.showMinimized();
    } else if (window_.isVisible() && window_.isMinimized() && hooks_.minimized_mode() &&
               Tray_Icon_Shown()) {
        // A panel that came after the program: the minimized window goes
        // where the launch mode wants it.
        window_.hide();
    }
}

void Tray_Presence::Show_From_Another_Start() {
    if (closed_)
        return;
    if (!window_.isVisible()) {
        // In the notification area: as the tray menu's Restore would.
        MNI_RestoreClick();
        return;
    }
    window_.setWindowState((window_.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window_.show();
    window_.raise();
    window_.activateWindow();
    // Qt may not know yet that the window manager minimized the window, and
    // then asks nothing of it.
    Bring_Forward_As_Taskbar(window_);
}

void Tray_Presence::Notify(const QString& text, bool problem) {
    if (hooks_.notify)
        hooks_.notify(text, problem);
    else if (tray_icon_.isVisible())
        tray_icon_.showMessage(kApp_Name, text,
                               problem ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
}

} // namespace vistrel
