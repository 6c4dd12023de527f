#include "ui/upload_status.h"

#include "ui_UF_Main.h"

#include <QThread>

namespace vistrel {

Upload_Status::Upload_Status(Ui::F_Main& form, std::string refused_list)
    : ui_(form), refused_list_(std::move(refused_list)) {}

void Upload_Status::FTP_ClientStatus(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (QThread::currentThread() == ui_.LBL_FTP_Status->thread()) {
        ui_.LBL_FTP_Status->setText(shown);
        ui_.LBL_FTP_Status->repaint();
        return;
    }
    QMetaObject::invokeMethod(
        ui_.LBL_FTP_Status, [label = ui_.LBL_FTP_Status, shown] { label->setText(shown); },
        Qt::QueuedConnection);
}

void Upload_Status::Show_Upload_File(const std::string& name) {
    QMetaObject::invokeMethod(
        ui_.LBL_FTP_File,
        [label = ui_.LBL_FTP_File, shown = QString::fromStdString(name)] { label->setText(shown); },
        Qt::QueuedConnection);
}

void Upload_Status::Show_Backlog(size_t waiting, size_t refused) {
    const size_t shown = waiting > 1 ? waiting : 0;
    // Refusals only ever add up, and are rare: the text is made afresh only
    // while there are some.
    if (shown == shown_backlog_ && refused == 0)
        return;
    shown_backlog_ = shown;
    QStringList parts;
    if (shown > 0)
        parts << tr("%1 pictures waiting to be sent").arg(shown);
    if (refused > 0)
        parts << tr("%1 pictures refused by the server (listed in %2)")
                     .arg(refused)
                     .arg(QString::fromStdString(refused_list_));
    const QString text = parts.join(QLatin1Char('\n'));
    if (ui_.PNL_FTP_Status_Main->toolTip() != text)
        ui_.PNL_FTP_Status_Main->setToolTip(text);
}

} // namespace vistrel
