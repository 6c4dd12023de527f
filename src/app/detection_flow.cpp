#include "app/detection_flow.h"

#include "recording/recording_controller.h"
#include "ui/detection_dialog.h"
#include "ui/window_modal.h"

namespace vistrel {

Detection_Flow::Detection_Flow(QWidget& window, Recording_Controller& controller,
                               std::string data_folder)
    : window_(window), controller_(controller), data_folder_(std::move(data_folder)) {
    controller_.Set_Detection(Detection_Settings::Load(data_folder_));
}

void Detection_Flow::Open() {
    if (dialog_ != nullptr)
        return;
    TF_Detection dialog(controller_.Detection(), &window_);
    // The last tick's picture at once, not only from the next tick on.
    dialog.Show_Live(controller_.Live_Frame(), controller_.Last_Reading());
    dialog_ = &dialog;
    const int answer = Exec_Window_Modal(dialog);
    dialog_ = nullptr;
    if (answer == QDialog::Accepted)
        Apply(dialog.Settings());
}

void Detection_Flow::Show_Tick() {
    if (dialog_ != nullptr)
        dialog_->Show_Live(controller_.Live_Frame(), controller_.Last_Reading());
}

bool Detection_Flow::Apply(const Detection_Settings& settings) {
    try {
        settings.Save(data_folder_);
    } catch (const std::exception& e) {
        Tell_Window_Modal(&window_, QMessageBox::Warning,
                          tr("The detection settings could not be saved: %1")
                              .arg(QString::fromLocal8Bit(e.what())));
        return false;
    }
    controller_.Set_Detection(settings);
    return true;
}

} // namespace vistrel
