#include "update/update_dialog.h"

#include "ui_UF_Update.h"
#include "update/version_check.h"

namespace vistrel {

TF_Update::TF_Update(QWidget* owner) : QDialog(owner), ui_(std::make_unique<Ui::F_Update>()) {
    ui_->setupUi(this);
    // A fixed frame with a title but without the close box.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint);
    setFixedSize(405, 177);
    connect(ui_->BTN_Yes, &QPushButton::clicked, this, &TF_Update::BTN_YesClick);
    connect(ui_->BTN_No, &QPushButton::clicked, this, &TF_Update::BTN_NoClick);
}

TF_Update::~TF_Update() = default;

void TF_Update::showEvent(QShowEvent* e) {
    FormShow();
    if (parentWidget() != nullptr)
        move(parentWidget()->frameGeometry().center() - rect().center());
    QDialog::showEvent(e);
}

void TF_Update::FormShow() {
    QStringList lines;
    for (const std::string& line : Update_Dialog_Lines(App_Name, Version_Local, Version_Remote))
        lines << QString::fromStdString(line);
    ui_->LBL_Update1->setText(lines.join('\n'));
}

} // namespace vistrel
