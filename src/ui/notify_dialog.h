// The dialog behind "Notifications..." in the live picture's menu: where the
// messages about episodes go, with a test message for each target sent from
// here with what is shown, before it is kept.
#pragma once

#include "notify/message_sender.h"
#include "notify/notify_queue.h"
#include "notify/notify_settings.h"

#include <QDialog>
#include <QImage>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QTemporaryDir;

namespace Ui {
class F_Notify;
}

namespace vistrel {

class Notify_Service;

// "Vistrel_test.jpg": the picture a test message carries.
inline constexpr const char* kTest_Picture_Name = "Vistrel_test.jpg";

class TF_Notify : public QDialog {
    Q_OBJECT

public:
    // `settings`: those in use. `live` gives the live picture when a test is
    // sent, a null image before the first one. `service` sends the tests and
    // must outlive the dialog.
    TF_Notify(const Notify_Settings& settings, Notify_Service& service,
              std::function<QImage()> live, QWidget* owner);
    ~TF_Notify() override;

    // What is shown.
    Notify_Settings Settings() const;
    Ui::F_Notify& Form() { return *ui_; }

    // The live picture, or a grey one, as the test's JPEG file in the
    // dialog's temporary folder; its path. Throws std::runtime_error.
    std::string Write_Test_Picture();
    // A test message to `target` with the settings shown; the answer comes
    // to the target's group later, the window usable meanwhile.
    void Send_Test(Notify_Target target);

private:
    struct Target_Widgets {
        QPushButton* test;
        QLabel* outcome;
        QLabel* failure;
    };
    Target_Widgets Widgets(Notify_Target target) const;
    void Show(const Notify_Settings& settings);
    void Show_Address();
    void Show_Outcome(Notify_Target target, const Delivery& delivery);

    std::unique_ptr<Ui::F_Notify> ui_;
    Notify_Service& service_;
    std::function<QImage()> live_;
    // Shared with the tests under way: a test outliving the dialog still
    // finds its picture.
    std::shared_ptr<QTemporaryDir> folder_;
};

} // namespace vistrel
