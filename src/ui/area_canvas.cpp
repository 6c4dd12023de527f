#include "ui/area_canvas.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vistrel {

namespace {

constexpr int32_t kLeast_Drag = kArea_Scale / 100;

QColor Kind_Colour(Area_Kind kind) {
    switch (kind) {
    case Area_Kind::Watch:
        return {60, 210, 90};
    case Area_Kind::Ignore:
        return {255, 170, 0};
    case Area_Kind::Hide:
        return {230, 50, 50};
    }
    return Qt::white;
}

// A coordinate across `length` from `start`, in ten-thousandths, kept inside.
int32_t Scaled_Inside(double at, double start, double length) {
    if (length <= 0.0)
        return 0;
    const double part = std::clamp((at - start) / length, 0.0, 1.0);
    return static_cast<int32_t>(std::lround(part * kArea_Scale));
}

} // namespace

QRectF Picture_Rect(QSize picture, const QRectF& box) {
    const QSizeF shape = picture.isEmpty() ? QSizeF(4, 3) : QSizeF(picture);
    const QSizeF fitted = shape.scaled(box.size(), Qt::KeepAspectRatio);
    return {box.left() + (box.width() - fitted.width()) / 2,
            box.top() + (box.height() - fitted.height()) / 2, fitted.width(), fitted.height()};
}

std::optional<Detection_Area> Area_From_Drag(const QRectF& picture, QPointF from, QPointF to,
                                             Area_Kind kind) {
    const int32_t x0 = Scaled_Inside(from.x(), picture.left(), picture.width());
    const int32_t x1 = Scaled_Inside(to.x(), picture.left(), picture.width());
    const int32_t y0 = Scaled_Inside(from.y(), picture.top(), picture.height());
    const int32_t y1 = Scaled_Inside(to.y(), picture.top(), picture.height());
    Detection_Area area{kind, std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0),
                        std::abs(y1 - y0)};
    // A click, or a slip of the hand, is not an area.
    if (area.w < kLeast_Drag || area.h < kLeast_Drag)
        return std::nullopt;
    return area;
}

std::vector<QString> Level_Labels(const std::vector<Detection_Area>& shown,
                                  const std::vector<Detection_Area>& measured,
                                  const std::vector<double>& watch_levels) {
    // The levels follow the measured watch areas in order; an area drawn or
    // removed since then must not take another area's level.
    std::vector<const Detection_Area*> measured_watch;
    for (const Detection_Area& area : measured)
        if (area.kind == Area_Kind::Watch)
            measured_watch.push_back(&area);
    std::vector<bool> used(measured_watch.size(), false);
    std::vector<QString> labels(shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i].kind != Area_Kind::Watch)
            continue;
        for (size_t j = 0; j < measured_watch.size() && j < watch_levels.size(); ++j)
            if (!used[j] && *measured_watch[j] == shown[i]) {
                used[j] = true;
                labels[i] = QString::number(watch_levels[j], 'f', 1) + QStringLiteral(" %");
                break;
            }
    }
    return labels;
}

Area_Canvas::Area_Canvas(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(160, 120);
    setCursor(Qt::CrossCursor);
}

void Area_Canvas::Set_Frame(const QImage& frame) {
    if (frame.isNull())
        return;
    frame_ = frame;
    update();
}

void Area_Canvas::Set_Areas(const std::vector<Detection_Area>& areas, std::vector<QString> labels) {
    areas_ = areas;
    labels_ = std::move(labels);
    labels_.resize(areas_.size());
    if (highlighted_ >= static_cast<int>(areas_.size()))
        highlighted_ = -1;
    update();
}

void Area_Canvas::Set_Highlighted(int index) {
    highlighted_ = index >= 0 && index < static_cast<int>(areas_.size()) ? index : -1;
    update();
}

QRectF Area_Canvas::Picture() const {
    return Picture_Rect(frame_.size(), QRectF(rect()));
}

QRectF Area_Canvas::On_Widget(const Detection_Area& area) const {
    const QRectF picture = Picture();
    const double sx = picture.width() / kArea_Scale, sy = picture.height() / kArea_Scale;
    return {picture.left() + area.x * sx, picture.top() + area.y * sy, area.w * sx, area.h * sy};
}

void Area_Canvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(20, 20, 20));
    const QRectF picture = Picture();
    // Straight from the frame into the widget's device pixels: a picture
    // scaled beforehand to the widget's logical size would be blurred by a
    // scaled screen.
    if (frame_.isNull()) {
        painter.fillRect(picture, QColor(64, 64, 64));
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(picture, frame_);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    for (size_t i = 0; i < areas_.size(); ++i) {
        const QRectF box = On_Widget(areas_[i]);
        QColor colour = Kind_Colour(areas_[i].kind);
        const bool highlighted = static_cast<int>(i) == highlighted_;
        QColor fill = colour;
        fill.setAlpha(highlighted ? 110 : 50);
        painter.fillRect(box, fill);
        painter.setPen(QPen(highlighted ? QColor(Qt::white) : colour, highlighted ? 3 : 2));
        painter.drawRect(box);
        if (labels_[i].isEmpty())
            continue;
        // Above the area's corner, or inside it when the picture ends there.
        const QFontMetrics metrics(font());
        QRectF tag(0, 0, metrics.horizontalAdvance(labels_[i]) + 8, metrics.height() + 2);
        tag.moveBottomLeft(box.topLeft());
        if (tag.top() < picture.top())
            tag.moveTopLeft(box.topLeft());
        painter.fillRect(tag, QColor(0, 0, 0, 170));
        painter.setPen(colour);
        painter.drawText(tag, Qt::AlignCenter, labels_[i]);
    }
    if (drag_from_) {
        painter.setPen(QPen(Kind_Colour(kind_), 1, Qt::DashLine));
        painter.drawRect(QRectF(*drag_from_, drag_to_).normalized());
    }
}

void Area_Canvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    drag_from_ = event->position();
    drag_to_ = event->position();
    update();
}

void Area_Canvas::mouseMoveEvent(QMouseEvent* event) {
    if (!drag_from_)
        return QWidget::mouseMoveEvent(event);
    drag_to_ = event->position();
    update();
}

void Area_Canvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !drag_from_)
        return QWidget::mouseReleaseEvent(event);
    const QPointF from = *drag_from_;
    drag_from_.reset();
    update();
    if (const auto area = Area_From_Drag(Picture(), from, event->position(), kind_))
        emit Area_Drawn(*area);
}

} // namespace vistrel
