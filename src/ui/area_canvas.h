// The camera's picture in the Detection dialog, with the areas over it and a
// rectangle drawn with the mouse. The frame is painted at the screen's own
// pixels, so a scaled screen shows it as sharp as it can.
#pragma once

#include "detection/detection_area.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace vistrel {

// The rectangle a picture of `picture` size takes in `box` when scaled with
// its aspect ratio kept and centred; 4:3 for an empty size.
QRectF Picture_Rect(QSize picture, const QRectF& box);

// The area a drag from `from` to `to` (either direction) marks on `picture`,
// clamped inside it; none for a drag under 1 % of the picture either way.
std::optional<Detection_Area> Area_From_Drag(const QRectF& picture, QPointF from, QPointF to,
                                             Area_Kind kind);

// The live level of each of `shown`, as "12.3 %"; empty for an area that is
// not a watch area of `measured`, the areas `watch_levels` were read on.
std::vector<QString> Level_Labels(const std::vector<Detection_Area>& shown,
                                  const std::vector<Detection_Area>& measured,
                                  const std::vector<double>& watch_levels);

class Area_Canvas : public QWidget {
    Q_OBJECT

public:
    explicit Area_Canvas(QWidget* parent = nullptr);

    // A null frame keeps the last one.
    void Set_Frame(const QImage& frame);
    void Set_Areas(const std::vector<Detection_Area>& areas, std::vector<QString> labels);
    // -1: none.
    void Set_Highlighted(int index);
    void Set_Draw_Kind(Area_Kind kind) { kind_ = kind; }

    const QImage& Frame() const { return frame_; }
    const std::vector<QString>& Labels() const { return labels_; }
    int Highlighted() const { return highlighted_; }
    // Where the picture is drawn in the widget.
    QRectF Picture() const;

    QSize sizeHint() const override { return {480, 360}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width * 3 / 4; }

signals:
    void Area_Drawn(const vistrel::Detection_Area& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF On_Widget(const Detection_Area& area) const;

    QImage frame_;
    std::vector<Detection_Area> areas_;
    std::vector<QString> labels_;
    int highlighted_ = -1;
    Area_Kind kind_ = Area_Kind::Watch;
    std::optional<QPointF> drag_from_;
    QPointF drag_to_;
};

} // namespace vistrel
