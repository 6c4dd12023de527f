#include "desktop/blocked_close.h"

#include "desktop/x11_atom.h"

#include <QApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

namespace vistrel {

Blocked_Close::Blocked_Close(QWidget& window) : window_(&window) {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr)
        return;
    wm_protocols_ = X11_Atom(x11->connection(), "WM_PROTOCOLS");
    wm_delete_window_ = X11_Atom(x11->connection(), "WM_DELETE_WINDOW");
    if (wm_protocols_ == XCB_ATOM_NONE || wm_delete_window_ == XCB_ATOM_NONE)
        return;
    qApp->installNativeEventFilter(this);
    installed_ = true;
}

Blocked_Close::~Blocked_Close() {
    if (installed_ && qApp)
        qApp->removeNativeEventFilter(this);
}

bool Blocked_Close::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (type != "xcb_generic_event_t" || !window_)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != wm_protocols_ ||
        client->data.data32[0] != wm_delete_window_ ||
        client->window != static_cast<xcb_window_t>(window_->winId()))
        return false;
    // Not blocked: Qt delivers the close itself.
    if (QApplication::activeModalWidget() == nullptr)
        return false;
    QMetaObject::invokeMethod(
        window_.data(),
        [window = window_] {
            if (window)
                window->close();
        },
        Qt::QueuedConnection);
    return true;
}

} // namespace vistrel
