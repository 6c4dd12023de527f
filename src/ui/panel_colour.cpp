#include "ui/panel_colour.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

namespace vistrel {

Panel_Colour::Panel_Colour(QWidget* panel) : QObject(panel), panel_(panel) {}

void Panel_Colour::Set(const QColor& colour) {
    if (colour == colour_)
        return;
    const bool first = !colour_.isValid();
    colour_ = colour;
    // What the colour is, for whoever asks the panel.
    panel_->setProperty("panelColour", colour.name());
    if (!first) {
        panel_->update();
        return;
    }
    // A style sheet background of its own styles the panel (its text, its
    // frame) as it should look, once; its colour is then painted here over
    // that background. A new sheet, or a rule chosen by a property and
    // polished again, changed the panel's font twice on the way, which laid
    // the window out again and repainted everything around the panel. The
    // panel is not made opaque: Qt draws a gradient behind it span by span,
    // and spans cut at the panel's edge would shift some of its colours.
    panel_->setStyleSheet(
        QStringLiteral("#%1 { background-color: %2; }").arg(panel_->objectName(), colour.name()));
    panel_->installEventFilter(this);
    panel_->update();
}

bool Panel_Colour::eventFilter(QObject* watched, QEvent* event) {
    // Before the panel's own painting, which draws its frame and text on top.
    if (watched == panel_ && event->type() == QEvent::Paint) {
        QPainter painter(panel_);
        painter.fillRect(panel_->rect(), colour_);
    }
    return false;
}

} // namespace vistrel
