// The settings controls of the main window: filled from the stored values,
// read back into them, and made the working settings.
#pragma once

#include "settings/stored_settings.h"

#include <QObject>

namespace Ui {
class F_Main;
}

namespace vistrel {

class Shared_Settings;

class Settings_Form : public QObject {
    Q_OBJECT

public:
    Settings_Form(Ui::F_Main& form, Shared_Settings& working, QObject* parent);

    void Show(const Stored_Settings& values);
    Stored_Settings Values() const;

    // Copies the controls into the working settings and hands a copy back.
    Working_Settings Read_Parameters_From_Controls();

signals:
    // The sampling period the controls now ask for.
    void Sampling_Period(int milliseconds);

private:
    Ui::F_Main& ui_;
    Shared_Settings& working_;
};

} // namespace vistrel
