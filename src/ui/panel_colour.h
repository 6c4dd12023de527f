// Gives a panel one solid background colour, changed as often as the
// recording state wants (the armed indicator blinks at every tick).
#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QString>
#include <vector>

class QWidget;

namespace vistrel {

class Panel_Colour : public QObject {
public:
    // The panel keeps the look it has until it is first given a colour.
    explicit Panel_Colour(QWidget* panel);

    // The panel's background from now on: one repaint of the panel alone.
    void Set(const QColor& colour);

    // How many looks of the panel are kept ready (for tests).
    size_t Looks_Kept() const { return looks_.size(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The panel as Qt paints it in one colour with one text, children aside,
    // in its window's active or inactive colours.
    struct Look {
        QColor colour;
        QString text;
        bool active = false;
        QImage image;
    };
    const Look* Ready_Look() const;
    void Prepare_Look();
    QString Text() const;

    QWidget* panel_;
    QColor colour_;
    std::vector<Look> looks_;
    bool rendering_ = false;
};

} // namespace vistrel
