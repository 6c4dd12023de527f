#include "app/notify_flow.h"

#include "recording/recording_controller.h"
#include "ui/notify_dialog.h"
#include "ui/window_modal.h"

#include <QMetaObject>
#include <QPointer>
#include <ctime>

namespace vistrel {

Episode_Event Event_Of(const Episode_Report& report, int32_t utc_offset_s) {
    Episode_Event event;
    event.kind = report.motion ? Episode_Kind::Motion : Episode_Kind::Continuous;
    event.folder = report.folder;
    event.picture_path = report.picture_path;
    event.picture_name = report.picture_name;
    event.time = report.time;
    event.utc_offset_s = utc_offset_s;
    event.level = report.level;
    event.pictures = report.pictures;
    event.duration_s = report.duration_ms / 1000.0;
    return event;
}

int32_t Local_Utc_Offset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return 0;
    return static_cast<int32_t>(local.tm_gmtoff);
}

Notify_Flow::Notify_Flow(QWidget& window, Recording_Controller& controller, std::string data_folder,
                         std::function<void(const QString& text, bool problem)> notice,
                         Notify_Service::Hooks hooks)
    : window_(window), controller_(controller), notice_(std::move(notice)) {
    // The worker's thread hands the refusal over to the GUI thread; a flow
    // gone by then drops it.
    QPointer<Notify_Flow> self(this);
    hooks.refused = [self](Notify_Target target, const std::string& words) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, target, words] {
                if (self)
                    emit self->Refused(static_cast<int>(target), QString::fromStdString(words));
            },
            Qt::QueuedConnection);
    };
    service_ = std::make_unique<Notify_Service>(std::move(data_folder), std::move(hooks));
    connect(this, &Notify_Flow::Refused, this, [this](int target, const QString& words) {
        if (notice_)
            notice_(
                tr("%1 refuses the messages: %2. See Notifications... in the picture's menu.")
                    .arg(QString::fromStdString(Target_Name(static_cast<Notify_Target>(target))),
                         words),
                true);
    });
    controller.On_Episode_Started([this](const Episode_Report& report) {
        service_->Episode_Started(Event_Of(report, Local_Utc_Offset()));
    });
    controller.On_Episode_Ended([this](const Episode_Report& report) {
        service_->Episode_Ended(Event_Of(report, Local_Utc_Offset()));
    });
}

void Notify_Flow::Open() {
    if (dialog_ != nullptr)
        return;
    TF_Notify dialog(
        service_->Settings(), *service_, [this] { return controller_.Live_Frame(); }, &window_);
    dialog_ = &dialog;
    const int answer = Exec_Window_Modal(dialog);
    dialog_ = nullptr;
    if (answer == QDialog::Accepted)
        Apply(dialog.Settings());
}

bool Notify_Flow::Apply(const Notify_Settings& settings) {
    try {
        service_->Apply(settings);
    } catch (const std::exception& e) {
        Tell_Window_Modal(&window_, QMessageBox::Warning,
                          tr("The notification settings could not be saved: %1")
                              .arg(QString::fromLocal8Bit(e.what())));
        return false;
    }
    return true;
}

Notify_Flow::~Notify_Flow() {
    Close();
}

void Notify_Flow::Close() noexcept {
    if (service_)
        service_->Close();
}

} // namespace vistrel
