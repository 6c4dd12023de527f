// The small dialog behind "Storage..." in the live picture's menu: whether
// to keep free space on the destination disk, and how much, with what the
// keeper last did in words.
#pragma once

#include "settings/storage_settings.h"

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QTimer;

namespace Ui {
class F_Storage;
}

namespace vistrel {

class TF_Storage : public QDialog {
    Q_OBJECT

public:
    // `disk_bytes`: the size of the destination's disk, when known; more
    // than half of it is refused. `status`: the keeper's latest words, read
    // again while the dialog is open.
    TF_Storage(const Storage_Settings& settings, QWidget* owner,
               std::optional<uint64_t> disk_bytes = std::nullopt,
               std::function<std::string()> status = {});
    ~TF_Storage() override;

    Storage_Settings Settings() const;
    Ui::F_Storage& Form() { return *ui_; }

    // Refuses, saying why in the dialog, a target the disk cannot hold.
    void accept() override;

private:
    // Why the setting shown cannot be kept; empty when it can.
    QString Problem() const;
    void Show_Problem();
    void Show_Status();

    std::unique_ptr<Ui::F_Storage> ui_;
    std::optional<uint64_t> disk_bytes_;
    std::function<std::string()> status_;
    QTimer* status_timer_ = nullptr; // owned by the dialog
};

} // namespace vistrel
