#include "update/update_check.h"

#include "base/program_identity.h"
#include "ui/window_modal.h"
#include "update/update_dialog.h"
#include "update/version_check.h"

namespace vistrel {

Update_Check::Update_Check(QWidget& window, Update_Check_Hooks hooks)
    : QObject(&window), window_(window), hooks_(std::move(hooks)) {
    TMR_Update.setInterval(10000);
    connect(&TMR_Update, &QTimer::timeout, this, &Update_Check::TMR_UpdateTimer);
}

// A fetch still running is dropped first.
Update_Check::~Update_Check() {
    version_fetch_.reset();
}

void Update_Check::Stop() {
    stopped_ = true;
    TMR_Update.stop();
}

void Update_Check::TMR_UpdateTimer() {
    TMR_Update.stop(); // once per run
    Get_Remote_Version();
}

void Update_Check::Get_Remote_Version() {
    if (!hooks_.HTP_Check_Ver)
        return;
    // The answer is awaited off the GUI thread; the check goes on here.
    version_fetch_ = hooks_.HTP_Check_Ver(
        hooks_.version_url.toStdString(), [this](std::optional<std::string> body) {
            QMetaObject::invokeMethod(
                this, [this, body = std::move(body)] { Continue_Update_Check(body); },
                Qt::QueuedConnection);
        });
}

void Update_Check::Continue_Update_Check(const std::optional<std::string>& body) {
    // An answer that comes after the close opens no page and no dialog.
    if (stopped_)
        return;
    version_fetch_.reset();
    const std::string local = std::string(kVersion_Local);
    const std::string remote = body ? Version_Remote_From(*body) : std::string();
    const bool newer = Is_Newer(remote, local);
    const bool old = Is_Old(hooks_.program_modified(), hooks_.now());
    emit Open_Download_Page();
    if (!newer && !old)
        return;
    TF_Update dialog(&window_);
    dialog.App_Name = kApp_Name;
    dialog.Version_Local = local;
    dialog.Version_URL = hooks_.version_url.toStdString();
    dialog.Version_Remote = remote;
    if (Exec_Window_Modal(dialog) == TF_Update::kYes) {
        emit Open_Download_Page();
        // Ending the program the normal way keeps the settings changed in
        // this run.
        emit Exit_Asked();
    }
}

} // namespace vistrel
