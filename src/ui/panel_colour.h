// Gives a panel one solid background colour, changed as often as the
// recording state wants (the armed indicator blinks at every tick).
#pragma once

#include <QColor>
#include <QObject>

class QWidget;

namespace vistrel {

class Panel_Colour : public QObject {
public:
    // The panel keeps the look it has until it is first given a colour.
    explicit Panel_Colour(QWidget* panel);

    // The panel's background from now on: one repaint of the panel alone.
    void Set(const QColor& colour);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* panel_;
    QColor colour_;
};

} // namespace vistrel
