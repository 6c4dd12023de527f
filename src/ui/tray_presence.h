// The program's place in the notification area: the icon, its menu, and
// the minimized mode that hides the window there. The window is never left
// without a way back: with no notification area it stays on the taskbar.
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

class QAction;
class QMainWindow;

namespace vistrel {

struct Tray_Hooks {
    std::function<bool()> tray_available; // is there a notification area now
    // Takes the window off the taskbar (true) or puts it back (false).
    std::function<void(QWidget&, bool)> skip_taskbar;
    std::function<bool()> minimized_mode; // the launch mode the user chose
    std::function<bool()> activated;      // the window was activated once
    // Tells the user something in passing; a notification of the icon when
    // unset.
    std::function<void(const QString& text, bool problem)> notify;
};

class Tray_Presence : public QObject {
    Q_OBJECT

public:
    // The menu holds the form's three actions.
    Tray_Presence(QMainWindow& window, QAction* minimize, QAction* restore, QAction* exit,
                  Tray_Hooks hooks);

    // Shown whether or not a notification area is there yet: the icon takes
    // its place in one that comes later (a panel started after the program).
    void Show();
    void Hide();
    // Nothing more is done for a window that is closing.
    void Set_Closed() { closed_ = true; }

    void Tray_Icon_Message(QSystemTrayIcon::ActivationReason reason);
    void MNI_MinimizeClick();
    void MNI_RestoreClick();
    void MNI_ExitClick();
    void AEV_AppliMinimize();
    // Follows a notification area that comes or goes: a window hidden in the
    // tray is never left without an icon.
    void TMR_Tray_WatchTimer();
    // Another start on the same data folder asked for this window: it comes
    // forward, out of the notification area or the taskbar.
    void Show_From_Another_Start();
    void Notify(const QString& text, bool problem);

    QSystemTrayIcon& Icon() { return tray_icon_; }
    QMenu& Menu() { return PPM_Appli; }

signals:
    void Episodes_Asked(); // MNI_EpisodesClick

private:
    // Whether the icon is in a notification area now, so that hiding the
    // window leaves a way back to it.
    bool Tray_Icon_Shown() const;
    void Skip_Taskbar(bool skip);

    QMainWindow& window_;
    Tray_Hooks hooks_;
    QMenu PPM_Appli;
    QSystemTrayIcon tray_icon_;
    QTimer TMR_Tray_Watch;
    bool closed_ = false;
};

} // namespace vistrel
