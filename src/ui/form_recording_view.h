// What the sampling tick shows, on the main window's form: the live
// picture, the thumbnails, the coloured panels, the gauge and the status
// texts. Nothing is painted that nobody can see.
#pragma once

#include "recording/recording_controller.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

class QLabel;

namespace vistrel {

class Settings_Form;
class TF_Main;

class Form_Recording_View : public QObject, public Recording_View {
    Q_OBJECT

public:
    Form_Recording_View(TF_Main& window, Settings_Form& settings);

    Working_Settings Read_Parameters() override;
    bool Add_Time_Date() const override;
    bool Sensitivity_Dark() const override;
    int Jpeg_Size_Index() const override;
    void Set_Detect_Colour(uint32_t colour) override;
    void Show_Live(const QImage& frame) override;
    void Show_File_Name(const std::string& text) override;
    void Show_Folder_Name(const std::string& text) override;
    uint32_t Rec_Colour() const override { return rec_colour_; }
    void Set_Rec_Panel(uint32_t colour, const std::string& caption) override;
    void Set_Preview_Caption(const std::string& caption) override;
    void Show_Previews(const Preview_Strip& previews) override;
    void Show_Detection(const std::string& text) override;
    void Set_Gauge(int value) override;
    void Show_Processing_Time(const std::string& text) override;
    void Enable_FTP_Test(bool enabled) override;
    void Show_Save_Problem(const std::string& text) override;

    // The panels' colours catch up once the window is seen again.
    void Show_Panel_Colours();
    // Says so in plain words while no picture came, rather than a blank.
    void Show_No_Camera_Yet();
    // Another camera: its first picture replaces the words.
    void Forget_Live_Picture();

signals:
    // A streak of save failures began (problem) or ended.
    void Notice(const QString& text, bool problem);

private:
    void Set_Ticking_Text(QLabel* panel, const std::string& text);

    TF_Main& window_;
    Settings_Form& settings_;
    uint32_t rec_colour_ = 16777215;
    uint32_t detect_colour_ = 255;
    // What the two panels show.
    uint32_t shown_rec_colour_ = 16777215;
    uint32_t shown_detect_colour_ = 0;
    std::array<qint64, 7> preview_keys_{};
    bool has_shown_frame_ = false;
    bool save_failing_ = false; // a failure streak was told
};

} // namespace vistrel
