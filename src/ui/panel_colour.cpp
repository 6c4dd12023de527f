#include "ui/panel_colour.h"

#include <QBackingStore>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QWidget>

namespace vistrel {

namespace {

// The format of what the window is painted into, where a picture of the
// panel is drawn just as Qt draws the panel; none when there is no such
// picture (not shown yet, another backing store, a scaled screen).
QImage::Format Screen_Format(const QWidget* panel) {
    if (panel->devicePixelRatioF() != 1.0)
        return QImage::Format_Invalid;
    QBackingStore* store = panel->window()->backingStore();
    QPaintDevice* device = store != nullptr ? store->paintDevice() : nullptr;
    if (device == nullptr || device->devType() != QInternal::Image)
        return QImage::Format_Invalid;
    return static_cast<QImage*>(device)->format();
}

} // namespace

Panel_Colour::Panel_Colour(QWidget* panel) : QObject(panel), panel_(panel) {}

void Panel_Colour::Set(const QColor& colour) {
    if (colour == colour_)
        return;
    const bool first = !colour_.isValid();
    colour_ = colour;
    // What the colour is, for whoever asks the panel.
    panel_->setProperty("panelColour", colour.name());
    if (first) {
        // A style sheet background of its own styles the panel (its text,
        // its frame) as it should look, once; its colour is then painted
        // here over that background. A new sheet, or a rule chosen by a
        // property and polished again, changed the panel's font twice on the
        // way, which laid the window out again and repainted everything
        // around the panel. The panel is not made opaque: Qt draws a
        // gradient behind it span by span, and spans cut at the panel's edge
        // would shift some of its colours.
        panel_->setStyleSheet(QStringLiteral("#%1 { background-color: %2; }")
                                  .arg(panel_->objectName(), colour.name()));
        panel_->installEventFilter(this);
    }
    Prepare_Look();
    panel_->update();
}

QString Panel_Colour::Text() const {
    const auto* label = qobject_cast<const QLabel*>(panel_);
    return label != nullptr ? label->text() : QString();
}

const Panel_Colour::Look* Panel_Colour::Ready_Look() const {
    // Asked at every paint of the panel: what all looks are compared with is
    // found once.
    const QString text = Text();
    const QImage::Format format = Screen_Format(panel_);
    const bool active = panel_->isActiveWindow();
    for (const Look& look : looks_)
        if (look.colour == colour_ && look.text == text && look.active == active &&
            look.image.size() == panel_->size() && look.image.format() == format)
            return &look;
    return nullptr;
}

void Panel_Colour::Prepare_Look() {
    // The blinking indicator drew its text again at every tick: each of its
    // few looks is drawn once.
    const QImage::Format format = Screen_Format(panel_);
    if (format == QImage::Format_Invalid || panel_->size().isEmpty() || Ready_Look() != nullptr)
        return;
    const QString text = Text();
    std::erase_if(looks_, [&](const Look& look) {
        return look.text != text || look.image.size() != panel_->size() ||
               look.image.format() != format;
    });
    QImage image(panel_->size(), format);
    if (image.isNull())
        return;
    // The panel's own painting only: its colour over all of it, then its
    // frame and text. What lies on it paints itself.
    rendering_ = true;
    panel_->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    rendering_ = false;
    looks_.push_back({colour_, text, panel_->isActiveWindow(), std::move(image)});
}

bool Panel_Colour::eventFilter(QObject* watched, QEvent* event) {
    if (watched != panel_)
        return false;
    switch (event->type()) {
    case QEvent::Paint: {
        QPainter painter(panel_);
        if (const Look* look = rendering_ ? nullptr : Ready_Look()) {
            painter.drawImage(0, 0, look->image);
            return true;
        }
        // Before the panel's own painting, which draws its text and native
        // frame on top. A style sheet border would be painted over: the
        // panels have none (see the window's sheet).
        painter.fillRect(panel_->rect(), colour_);
        return false;
    }
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::EnabledChange:
    case QEvent::ContentsRectChange:
        looks_.clear();
        return false;
    default:
        return false;
    }
}

} // namespace vistrel
