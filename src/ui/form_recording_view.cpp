#include "ui/form_recording_view.h"

#include "recording/snapshot.h"
#include "ui/live_view.h"
#include "ui/main_window.h"
#include "ui/panel_colour.h"
#include "ui/settings_form.h"
#include "ui_UF_Main.h"

#include <QLabel>
#include <QPixmap>

namespace vistrel {

namespace {

QColor Colour_Of(uint32_t bbggrr) {
    return QColor(int(bbggrr & 0xFF), int((bbggrr >> 8) & 0xFF), int((bbggrr >> 16) & 0xFF));
}

} // namespace

Form_Recording_View::Form_Recording_View(TF_Main& window, Settings_Form& settings)
    : QObject(&window), window_(window), settings_(settings) {
    window_.Detect_Panel_Colour()->Set(Colour_Of(detect_colour_));
    shown_detect_colour_ = detect_colour_;
}

Working_Settings Form_Recording_View::Read_Parameters() {
    return settings_.Read_Parameters_From_Controls();
}

bool Form_Recording_View::Add_Time_Date() const {
    return window_.Form().CKB_Add_Time_Date->isChecked();
}
bool Form_Recording_View::Sensitivity_Dark() const {
    return window_.Form().CKB_Sensitivity_Dark->isChecked();
}
int Form_Recording_View::Jpeg_Size_Index() const {
    return window_.Form().CBX_JPEG_Size->currentIndex();
}

void Form_Recording_View::Set_Detect_Colour(uint32_t colour) {
    detect_colour_ = colour;
    Show_Panel_Colours();
}

void Form_Recording_View::Show_Panel_Colours() {
    // Nobody sees the panels of a window in the tray or minimized, and the
    // armed indicator blinks at every tick: their colours are painted when
    // the window shows again.
    if (!window_.isVisible() || window_.isMinimized())
        return;
    if (shown_detect_colour_ != detect_colour_) {
        shown_detect_colour_ = detect_colour_;
        window_.Detect_Panel_Colour()->Set(Colour_Of(detect_colour_));
    }
    if (shown_rec_colour_ != rec_colour_) {
        shown_rec_colour_ = rec_colour_;
        window_.Rec_Panel_Colour()->Set(Colour_Of(rec_colour_));
    }
}

void Form_Recording_View::Show_Live(const QImage& frame) {
    if (frame.isNull())
        return;
    has_shown_frame_ = true;
    // Weeks in the tray: nobody sees the picture, so it is not drawn; the
    // first tick after the window comes back shows the camera again.
    if (!window_.isVisible() || window_.isMinimized())
        return;
    QLabel* live = window_.Form().IMG_WebCam;
    live->setPixmap(QPixmap::fromImage(Scale_For_Display(frame, live->size())));
}

void Form_Recording_View::Show_No_Camera_Yet() {
    if (!has_shown_frame_)
        window_.Form().IMG_WebCam->setText(tr("No camera found"));
}

void Form_Recording_View::Forget_Live_Picture() {
    has_shown_frame_ = false;
    window_.Form().IMG_WebCam->clear();
}

void Form_Recording_View::Show_File_Name(const std::string& text) {
    window_.Form().PNL_Nom_File->setText(QString::fromStdString(text));
}

void Form_Recording_View::Show_Folder_Name(const std::string& text) {
    window_.Form().PNL_Nom_Folder->setText(QString::fromStdString(text));
}

void Form_Recording_View::Set_Rec_Panel(uint32_t colour, const std::string& caption) {
    window_.Form().PNL_Rec->setText(QString::fromStdString(caption));
    rec_colour_ = colour;
    Show_Panel_Colours();
}

void Form_Recording_View::Set_Preview_Caption(const std::string& caption) {
    window_.Form().PNL_IMG_Pre->setText(QString::fromStdString(caption));
}

void Form_Recording_View::Show_Previews(const Preview_Strip& previews) {
    Ui::F_Main& ui = window_.Form();
    QLabel* const thumbs[] = {ui.IMG_Pre_1, ui.IMG_Pre_2, ui.IMG_Pre_3, ui.IMG_Pre_4,
                              ui.IMG_Pre_5, ui.IMG_Pre_6, ui.IMG_Pre_7};
    // The strip mostly shifts by one: move the thumbnails already made and
    // scale only the new picture.
    std::array<QPixmap, 7> shown;
    for (size_t i = 0; i < 7; ++i)
        shown[i] = thumbs[i]->pixmap();
    const std::array<qint64, 7> shown_keys = preview_keys_;
    for (size_t i = 0; i < 7; ++i) {
        const QImage& picture = previews.At(i);
        const qint64 key = picture.isNull() ? 0 : picture.cacheKey();
        if (key == preview_keys_[i])
            continue;
        preview_keys_[i] = key;
        if (key == 0) {
            thumbs[i]->clear();
            continue;
        }
        QPixmap thumbnail;
        for (size_t j = 0; j < 7; ++j)
            if (shown_keys[j] == key)
                thumbnail = shown[j];
        if (thumbnail.isNull())
            thumbnail = QPixmap::fromImage(
                picture.scaled(thumbs[i]->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        thumbs[i]->setPixmap(thumbnail);
    }
}

void Form_Recording_View::Show_Detection(const std::string& text) {
    Set_Ticking_Text(window_.Status_Panel(1), text);
}

void Form_Recording_View::Set_Gauge(int value) {
    window_.Form().PGB_Coef_Correl->setValue(value);
}

void Form_Recording_View::Show_Processing_Time(const std::string& text) {
    Set_Ticking_Text(window_.Status_Panel(0), text);
}

void Form_Recording_View::Set_Ticking_Text(QLabel* panel, const std::string& text) {
    // A panel whose height may follow its text asks the status bar to lay
    // out again at every new text, and the status bar then repaints all of
    // itself. Once laid out, the panel keeps the height it was given; a
    // later change of its font would not be followed.
    if (panel->isVisible() && panel->minimumHeight() != panel->maximumHeight())
        panel->setFixedHeight(panel->height());
    panel->setText(QString::fromStdString(text));
}

void Form_Recording_View::Enable_FTP_Test(bool enabled) {
    window_.Form().BTN_FTP_Test->setEnabled(enabled);
}

void Form_Recording_View::Show_Save_Problem(const std::string& text) {
    QLabel* problem = window_.Form().LBL_Save_Problem;
    const QString shown = QString::fromStdString(text);
    if (shown == problem->text())
        return;
    problem->setText(shown);
    problem->setToolTip(shown);
    problem->setVisible(!shown.isEmpty());
    // Once when a streak of failures begins, once when it ends: the words
    // over the strip stay for as long as it lasts.
    if (shown.isEmpty() == save_failing_) {
        save_failing_ = !shown.isEmpty();
        emit Notice(save_failing_ ? shown : QStringLiteral("Pictures are being saved again."),
                    save_failing_);
    }
}

} // namespace vistrel
