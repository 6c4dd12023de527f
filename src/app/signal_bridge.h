// Turns SIGTERM and SIGINT into a call on the GUI thread, so that the program
// ends the normal way (settings saved, worker stopped) rather than dying.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace vistrel {

class Signal_Bridge : public QObject {
    Q_OBJECT

public:
    explicit Signal_Bridge(std::function<void()> on_signal, QObject* parent = nullptr);
    ~Signal_Bridge() override;

    // The event loop has ended: from now on a stop request ends the program
    // at once, with success, instead of waiting for a loop that never comes.
    void Tearing_Down() const noexcept;

private:
    std::function<void()> on_signal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace vistrel
