// A modal dialog blocks the main window, and Qt then drops the window
// manager's request to close it: with the update dialog up, whose only ways
// out are its buttons, the window's close box would do nothing at all. On
// X11 the request is caught before Qt drops it and turned into the window's
// own close, which closes the dialog as well.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

#include <cstdint>

namespace vistrel {

class Blocked_Close : public QAbstractNativeEventFilter {
public:
    // Installs itself for `window` when the program runs on X11; does
    // nothing elsewhere.
    explicit Blocked_Close(QWidget& window);
    ~Blocked_Close() override;
    Blocked_Close(const Blocked_Close&) = delete;
    Blocked_Close& operator=(const Blocked_Close&) = delete;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

private:
    QPointer<QWidget> window_;
    uint32_t wm_protocols_ = 0;
    uint32_t wm_delete_window_ = 0;
    bool installed_ = false;
};

} // namespace vistrel
