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

private:
    std::function<void()> on_signal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace vistrel
