#include "ui/picture_canvas.h"

#include <QPainter>

namespace vistrel {

Picture_Canvas::Picture_Canvas(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Picture_Canvas::Show(QImage picture) {
    picture_ = std::move(picture);
    scaled_ = QImage();
    update();
}

void Picture_Canvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (picture_.isNull())
        return;
    const qreal ratio = devicePixelRatioF();
    const QSize device(qRound(width() * ratio), qRound(height() * ratio));
    const QSize fitted = picture_.size().scaled(device, Qt::KeepAspectRatio);
    if (scaled_.size() != fitted || scaled_.devicePixelRatio() != ratio) {
        scaled_ = picture_.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        scaled_.setDevicePixelRatio(ratio);
    }
    const QSizeF logical = QSizeF(fitted) / ratio;
    painter.drawImage(QPointF((width() - logical.width()) / 2, (height() - logical.height()) / 2),
                      scaled_);
}

} // namespace vistrel
