#include "ui/form_placement.h"

#include <QWidget>
#include <QWindow>

namespace vistrel {

void Restore_Placement(QWidget& window, const std::string& appli_ini, const Desktop_Area& desktop) {
    const auto stored = Load_Window_Placement(appli_ini);
    if (!stored) {
        // The design placement. Moving a window that Qt already has at 0, 0
        // changes nothing, and the window manager would choose the place: the
        // native window is told its position was asked for.
        window.move(0, 0);
        if (QWindow* native = window.windowHandle())
            native->setFramePosition(QPoint(0, 0));
        return;
    }
    const Window_Placement p = Move_Into_Desktop(*stored, desktop);
    window.setGeometry(p.left, p.top, p.Width(), p.Height());
    // A window left minimized opens normally: a window that starts iconic may
    // never be activated, and sampling starts at the first activation. The
    // minimized launch mode is the way to start in the notification area.
    if (p.show == kShow_Maximized)
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

void Save_Placement(const QWidget& window, const std::string& appli_ini) {
    const QRect normal =
        window.normalGeometry().isValid() ? window.normalGeometry() : window.geometry();
    Window_Placement p;
    p.show = window.isMinimized()   ? kShow_Minimized
             : window.isMaximized() ? kShow_Maximized
                                    : kShow_Normal;
    p.flags = (window.isMinimized() && (window.windowState() & Qt::WindowMaximized)) ? 2 : 0;
    p.left = normal.left();
    p.top = normal.top();
    p.right = normal.left() + normal.width();
    p.bottom = normal.top() + normal.height();
    Save_Window_Placement(appli_ini, p);
}

} // namespace vistrel
