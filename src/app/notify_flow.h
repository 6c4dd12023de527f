// The messages about episodes as the program runs them: the tick's episodes
// handed to the notification service, a target's refusal told once in a tray
// notice, and the Notifications dialog.
#pragma once

#include "notify/notify_service.h"
#include "recording/episode_tracker.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace vistrel {

class Recording_Controller;
class TF_Notify;

// The message's view of an episode the tick reported, with the local time's
// offset from UTC now.
Episode_Event Event_Of(const Episode_Report& report, int32_t utc_offset_s);

// Seconds east of UTC of the local time now.
int32_t Local_Utc_Offset();

class Notify_Flow : public QObject {
    Q_OBJECT

public:
    // Reads notify.ini and notify_queue in `data_folder` and starts
    // delivering. `notice` tells the user something in passing, on the GUI
    // thread.
    Notify_Flow(QWidget& window, Recording_Controller& controller, std::string data_folder,
                std::function<void(const QString& text, bool problem)> notice,
                Notify_Service::Hooks hooks = {});
    ~Notify_Flow() override;

    Notify_Service& Service() { return *service_; }

    // MNI_NotifyClick: the dialog, modal to the window alone.
    void Open();
    // Keeps `settings` in notify.ini and delivers with them from now on;
    // false, with a warning shown and nothing changed, when the file cannot
    // be written.
    bool Apply(const Notify_Settings& settings);
    // The dialog while it is open; null otherwise.
    TF_Notify* Dialog() const { return dialog_; }

    // Ends every delivery under way at once; what waits stays for the next
    // run. Never throws.
    void Close() noexcept;

signals:
    // A target refused for good, on the GUI thread.
    void Refused(int target, const QString& words);

private:
    QWidget& window_;
    Recording_Controller& controller_;
    std::function<void(const QString&, bool)> notice_;
    std::unique_ptr<Notify_Service> service_;
    TF_Notify* dialog_ = nullptr;
};

} // namespace vistrel
