// The small dialog behind "Storage..." in the live picture's menu: whether
// to keep free space on the destination disk, and how much.
#pragma once

#include "settings/storage_settings.h"

#include <QDialog>
#include <memory>

namespace Ui {
class F_Storage;
}

namespace vistrel {

class TF_Storage : public QDialog {
    Q_OBJECT

public:
    TF_Storage(const Storage_Settings& settings, QWidget* owner);
    ~TF_Storage() override;

    Storage_Settings Settings() const;
    Ui::F_Storage& Form() { return *ui_; }

private:
    std::unique_ptr<Ui::F_Storage> ui_;
};

} // namespace vistrel
