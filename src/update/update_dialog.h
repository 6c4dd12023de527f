// The dialog that offers to go to the download page.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class F_Update;
}

namespace vistrel {

class TF_Update : public QDialog {
    Q_OBJECT

public:
    // Modal results.
    static constexpr int kYes = 1;
    static constexpr int kNo = 2;

    explicit TF_Update(QWidget* owner);
    ~TF_Update() override;

    std::string App_Name;
    std::string Version_Local;
    std::string Version_URL;
    std::string Version_Remote;

    Ui::F_Update& Form() { return *ui_; }

    void BTN_YesClick() { done(kYes); }
    void BTN_NoClick() { done(kNo); }

protected:
    void showEvent(QShowEvent* e) override;
    // The dialog has no close box: only its two buttons end it.
    void reject() override {}

private:
    void FormShow();

    std::unique_ptr<Ui::F_Update> ui_;
};

} // namespace vistrel
