// The main window: its form, its look and its status bar. What the controls
// mean, and everything that lives longer than one call, belongs to the
// program around it (src/app), which listens to the signals below.
#pragma once

#include <QMainWindow>

#include <array>
#include <memory>

class QLabel;

namespace Ui {
class F_Main;
}

namespace vistrel {

class Blocked_Close;
class Cached_Background;
class Panel_Colour;

class TF_Main : public QMainWindow {
    Q_OBJECT

public:
    explicit TF_Main(QWidget* parent = nullptr);
    ~TF_Main() override;

    Ui::F_Main& Form() { return *ui_; }
    // The four status bar panels: processing time, detection, the detection
    // indicator's place, and the contact and version.
    QLabel* Status_Panel(size_t index) const { return status_panels_.at(index); }
    // Paints the window's backdrop from a picture; null without the look.
    Cached_Background* Backdrop() { return backdrop_; }
    // Paint the two coloured panels' colours.
    Panel_Colour* Rec_Panel_Colour() { return rec_panel_colour_; }
    Panel_Colour* Detect_Panel_Colour() { return detect_panel_colour_; }
    bool Activated() const { return activated_; }

signals:
    // FormActivate: the window was activated for the first time.
    void First_Activation();
    // The window is about to be shown for the first time: its place is set.
    void First_Show();
    // Shown again, or its state changed: what was not painted while hidden
    // may catch up.
    void Became_Visible();
    // AEV_AppliMinimize: the user or the window manager minimized it.
    void Minimized();
    // The user, the tray menu or a signal asks the window to close. A
    // receiver that ignores the event keeps it open.
    void Close_Asked(QCloseEvent* e);
    // One of the four timing edits lost the focus (Enter moves it on): its
    // value applies at once.
    void Timing_Edit_Left();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Build_Status_Bar();
    void Set_Focus_Rules();

    std::unique_ptr<Ui::F_Main> ui_;
    Cached_Background* backdrop_ = nullptr; // owned by the backdrop widget
    std::array<QLabel*, 4> status_panels_{};
    Panel_Colour* rec_panel_colour_ = nullptr;    // owned by the panel
    Panel_Colour* detect_panel_colour_ = nullptr; // owned by the panel
    bool activated_ = false;
    bool first_show_done_ = false;
    // The close box works while a dialog blocks the window.
    std::unique_ptr<Blocked_Close> blocked_close_;
};

} // namespace vistrel
