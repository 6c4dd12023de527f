// The Detection dialog as the program runs it: the settings read at start
// and handed to the recording, the dialog fed with the live picture at every
// tick while it is open, and what it returns kept in detection.ini.
#pragma once

#include "detection/detection_settings.h"

#include <QObject>

#include <string>

class QWidget;

namespace vistrel {

class Recording_Controller;
class TF_Detection;

class Detection_Flow : public QObject {
    Q_OBJECT

public:
    // Reads detection.ini in `data_folder` and gives it to `controller`.
    Detection_Flow(QWidget& window, Recording_Controller& controller, std::string data_folder);

    // MNI_DetectionClick: the dialog, modal to the window alone.
    void Open();
    // After each tick: the open dialog gets its frame and levels.
    void Show_Tick();
    // Keeps `settings` in detection.ini and has the recording follow them;
    // false, with a warning shown and nothing changed, when the file cannot
    // be written.
    bool Apply(const Detection_Settings& settings);

    // The dialog while it is open; null otherwise.
    TF_Detection* Dialog() const { return dialog_; }

private:
    QWidget& window_;
    Recording_Controller& controller_;
    const std::string data_folder_;
    TF_Detection* dialog_ = nullptr;
};

} // namespace vistrel
