#include "ui/main_window.h"

#include "desktop/blocked_close.h"
#include "ui/cached_background.h"
#include "ui/panel_colour.h"
#include "ui_UF_Main.h"

#include <QCloseEvent>
#include <QFile>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>

namespace vistrel {

TF_Main::TF_Main(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::F_Main>()) {
    ui_->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/vistrel/icons/vistrel.svg")));
    Build_Status_Bar();
    Set_Focus_Rules();
    // After the status bar panels exist, so that they take the form's font.
    QFile style(QStringLiteral(":/vistrel/vistrel.qss"));
    if (style.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(style.readAll()));
        // The backdrop's gradient is opaque and the same at every tick.
        backdrop_ = new Cached_Background(ui_->PNL_Global);
        // Black under the picture from the sheet's rule on it.
        backdrop_->Paints_Over(ui_->IMG_WebCam);
    }
    // Absolute in its panel: fixed, a new picture asks for no layout.
    ui_->IMG_WebCam->setFixedSize(ui_->IMG_WebCam->size());
    ui_->LBL_Save_Problem->hide();
    blocked_close_ = std::make_unique<Blocked_Close>(*this);
}

TF_Main::~TF_Main() = default;

void TF_Main::Build_Status_Bar() {
    const int widths[] = {130, 100, 20, 0};
    const char* texts[] = {" Processing time : 0ms", " Detection :", "", ""};
    for (size_t i = 0; i < status_panels_.size(); ++i) {
        auto* panel = new QLabel(QString::fromLatin1(texts[i]), ui_->STB_Main);
        panel->setObjectName(QStringLiteral("STB_Main_Panel_%1").arg(i));
        if (widths[i] > 0)
            panel->setFixedWidth(widths[i]);
        if (i == 2) {
            // The detection indicator covers the third panel.
            ui_->PNL_Status_Detect->setParent(panel);
            ui_->PNL_Status_Detect->move(0, 1);
            ui_->PNL_Status_Detect->show();
        }
        ui_->STB_Main->addWidget(panel, widths[i] > 0 ? 0 : 1);
        status_panels_[i] = panel;
    }
    detect_panel_colour_ = new Panel_Colour(ui_->PNL_Status_Detect);
    rec_panel_colour_ = new Panel_Colour(ui_->PNL_Rec);
}

void TF_Main::Set_Focus_Rules() {
    for (QLineEdit* edit : {ui_->EDT_Seuil_Detect, ui_->EDT_Timer_Refresh, ui_->EDT_Delay_Avant_Rec,
                            ui_->EDT_Delay_Apres_Rec, ui_->EDT_Nb_Max_File}) {
        // Digits only: a group separator the reading would not take is refused.
        auto* validator = new QIntValidator(edit);
        QLocale plain = QLocale::c();
        plain.setNumberOptions(QLocale::RejectGroupSeparator);
        validator->setLocale(plain);
        edit->setValidator(validator);
    }
    // Enter moves on in the integer and text edits; leaving one of the four
    // timing edits applies it at once.
    for (QLineEdit* edit : {ui_->EDT_Seuil_Detect, ui_->EDT_Timer_Refresh, ui_->EDT_Delay_Avant_Rec,
                            ui_->EDT_Delay_Apres_Rec, ui_->EDT_Nb_Max_File, ui_->EDT_File_Name,
                            ui_->EDT_FTP_Server_Name, ui_->EDT_FTP_Login, ui_->EDT_FTP_Password})
        edit->installEventFilter(this);
}

bool TF_Main::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    } else if (e->type() == QEvent::FocusOut) {
        if (watched == ui_->EDT_Seuil_Detect || watched == ui_->EDT_Timer_Refresh ||
            watched == ui_->EDT_Delay_Avant_Rec || watched == ui_->EDT_Delay_Apres_Rec)
            emit Timing_Edit_Left();
    }
    return QMainWindow::eventFilter(watched, e);
}

bool TF_Main::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && !activated_) {
        activated_ = true;
        emit First_Activation();
    }
    return QMainWindow::event(e);
}

void TF_Main::showEvent(QShowEvent* e) {
    if (!first_show_done_) {
        first_show_done_ = true;
        emit First_Show();
    }
    QMainWindow::showEvent(e);
    emit Became_Visible();
}

void TF_Main::closeEvent(QCloseEvent* e) {
    e->accept();
    emit Close_Asked(e);
}

void TF_Main::changeEvent(QEvent* e) {
    if (e->type() == QEvent::WindowStateChange && isMinimized())
        emit Minimized();
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange)
        emit Became_Visible();
}

} // namespace vistrel
