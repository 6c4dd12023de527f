#include "ui/storage_dialog.h"

#include "recording/free_space_plan.h"
#include "ui_UF_Storage.h"

#include <QTimer>
#include <cmath>

namespace vistrel {

TF_Storage::TF_Storage(const Storage_Settings& settings, QWidget* owner,
                       std::optional<uint64_t> disk_bytes, std::function<std::string()> status)
    : QDialog(owner), ui_(std::make_unique<Ui::F_Storage>()), disk_bytes_(disk_bytes),
      status_(std::move(status)) {
    ui_->setupUi(this);
    ui_->CKB_Keep_Free->setChecked(settings.keep_free);
    ui_->EDT_Keep_Free_GB->setValue(settings.keep_free_gb);
    ui_->EDT_Keep_Free_GB->setEnabled(settings.keep_free);
    connect(ui_->CKB_Keep_Free, &QCheckBox::toggled, ui_->EDT_Keep_Free_GB, &QWidget::setEnabled);
    connect(ui_->CKB_Keep_Free, &QCheckBox::toggled, this, &TF_Storage::Show_Problem);
    connect(ui_->EDT_Keep_Free_GB, &QDoubleSpinBox::valueChanged, this, &TF_Storage::Show_Problem);
    Show_Problem();
    Show_Status();
    // The keeper works on while the dialog is open.
    status_timer_ = new QTimer(this);
    status_timer_->setInterval(1000);
    connect(status_timer_, &QTimer::timeout, this, &TF_Storage::Show_Status);
    if (status_)
        status_timer_->start();
}

TF_Storage::~TF_Storage() = default;

Storage_Settings TF_Storage::Settings() const {
    Storage_Settings settings;
    settings.keep_free = ui_->CKB_Keep_Free->isChecked();
    // The box shows one decimal; the file keeps what was shown.
    settings.keep_free_gb = std::round(ui_->EDT_Keep_Free_GB->value() * 10.0) / 10.0;
    return settings;
}

QString TF_Storage::Problem() const {
    const Storage_Settings settings = Settings();
    if (!settings.keep_free || !disk_bytes_ ||
        Keep_Free_Fits(settings.Keep_Free_Bytes(), *disk_bytes_))
        return {};
    return QString::fromStdString("The disk of the destination folder holds " +
                                  Size_Text(*disk_bytes_) +
                                  " in all. Vistrel keeps at most half of a disk free: choose " +
                                  Size_Text(Most_Keep_Free_Bytes(*disk_bytes_)) + " or less.");
}

void TF_Storage::Show_Problem() {
    const QString problem = Problem();
    ui_->LBL_Keep_Free_Problem->setText(problem);
    ui_->LBL_Keep_Free_Problem->setVisible(!problem.isEmpty());
}

void TF_Storage::Show_Status() {
    const QString status = status_ ? QString::fromStdString(status_()) : QString();
    ui_->LBL_Keeper_Status->setText(status);
    ui_->LBL_Keeper_Status->setVisible(!status.isEmpty());
}

void TF_Storage::accept() {
    Show_Problem();
    if (!Problem().isEmpty()) {
        ui_->EDT_Keep_Free_GB->setFocus();
        return;
    }
    QDialog::accept();
}

} // namespace vistrel
