#include "ui/cached_background.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QWidget>

#include <algorithm>

namespace vistrel {

Cached_Background::Cached_Background(QWidget* widget) : QObject(widget), widget_(widget) {
    widget_->setAttribute(Qt::WA_OpaquePaintEvent);
    widget_->installEventFilter(this);
}

void Cached_Background::Paints_Over(QWidget* child) {
    covered_by_.emplace_back(child);
}

void Cached_Background::Stop() {
    widget_->removeEventFilter(this);
    widget_->setAttribute(Qt::WA_OpaquePaintEvent, false);
    picture_ = QImage();
    widget_->update();
}

bool Cached_Background::eventFilter(QObject* watched, QEvent* event) {
    if (watched != widget_)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
        picture_ = QImage();
        break;
    case QEvent::Paint: {
        const auto* paint = static_cast<QPaintEvent*>(event);
        QPainter painter(widget_);
        QStyleOption option;
        option.initFrom(widget_);
        // On a scaled screen the gradient is drawn as Qt draws it, at the
        // screen's own resolution: a picture would have to be made at that
        // resolution and copied at fractions of a pixel.
        if (widget_->devicePixelRatioF() != 1.0) {
            picture_ = QImage();
            painter.setClipRegion(paint->region());
            widget_->style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, widget_);
            break;
        }
        if (picture_.size() != widget_->size()) {
            // Drawn as Qt draws a styled background, once.
            picture_ = QImage(widget_->size(), QImage::Format_RGB32);
            picture_.fill(Qt::black);
            QPainter picture_painter(&picture_);
            widget_->style()->drawPrimitive(QStyle::PE_Widget, &option, &picture_painter, widget_);
        }
        // Under the live picture the copy was more than half of all the
        // painting of a tick, for pixels nobody sees.
        QRegion region = paint->region();
        for (const QPointer<QWidget>& child : covered_by_)
            if (child && child->isVisible())
                region -= QRect(child->mapTo(widget_, QPoint()), child->size());
        // Qt hands a copy of more than 96 rows to its thread pool in pieces;
        // bands of fewer rows are copied here, without waking it.
        constexpr int kBand = 64;
        for (const QRect& r : region)
            for (int top = r.top(); top <= r.bottom(); top += kBand) {
                const QRect band(r.left(), top, r.width(), std::min(kBand, r.bottom() + 1 - top));
                painter.setClipRect(band);
                painter.drawImage(band.topLeft(), picture_, band);
            }
        break;
    }
    default:
        break;
    }
    return false;
}

} // namespace vistrel
