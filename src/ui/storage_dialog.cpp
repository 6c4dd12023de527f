#include "ui/storage_dialog.h"

#include "ui_UF_Storage.h"

#include <cmath>

namespace vistrel {

TF_Storage::TF_Storage(const Storage_Settings& settings, QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::F_Storage>()) {
    ui_->setupUi(this);
    ui_->CKB_Keep_Free->setChecked(settings.keep_free);
    ui_->EDT_Keep_Free_GB->setValue(settings.keep_free_gb);
    ui_->EDT_Keep_Free_GB->setEnabled(settings.keep_free);
    connect(ui_->CKB_Keep_Free, &QCheckBox::toggled, ui_->EDT_Keep_Free_GB, &QWidget::setEnabled);
}

TF_Storage::~TF_Storage() = default;

Storage_Settings TF_Storage::Settings() const {
    Storage_Settings settings;
    settings.keep_free = ui_->CKB_Keep_Free->isChecked();
    // The box shows one decimal; the file keeps what was shown.
    settings.keep_free_gb = std::round(ui_->EDT_Keep_Free_GB->value() * 10.0) / 10.0;
    return settings;
}

} // namespace vistrel
