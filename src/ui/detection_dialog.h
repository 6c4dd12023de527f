// The dialog behind "Detection..." in the live picture's menu: the areas
// drawn over the live picture, the light rule and the pictures kept from
// before the motion.
#pragma once

#include "detection/detection_settings.h"
#include "detection/motion_detector.h"

#include <QDialog>
#include <QImage>

#include <memory>
#include <vector>

namespace Ui {
class F_Detection;
}

namespace vistrel {

// "Watch 10 %, 5 % – 40 % × 30 %": kind, left, top, width and height.
QString Area_Text(const Detection_Area& area);

class TF_Detection : public QDialog {
    Q_OBJECT

public:
    // `settings`: what the recording follows now, and what the live levels
    // are measured with.
    TF_Detection(const Detection_Settings& settings, QWidget* owner);
    ~TF_Detection() override;

    Detection_Settings Settings() const;
    Ui::F_Detection& Form() { return *ui_; }

public slots:
    // The tick's frame, hidden areas already black, and its levels.
    void Show_Live(const QImage& frame, const vistrel::Motion_Reading& reading);

private:
    void Add_Area(const Detection_Area& area);
    void Remove_Selected();
    void Show_Areas();
    void Show_Selection();
    int Selected_Row() const; // -1: none
    Area_Kind Draw_Kind() const;

    std::unique_ptr<Ui::F_Detection> ui_;
    const std::vector<Detection_Area> measured_;
    std::vector<Detection_Area> areas_;
    Motion_Reading reading_;
};

} // namespace vistrel
