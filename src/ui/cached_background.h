// Paints a widget's style sheet background from a picture of it made once.
// The window's backdrop is a gradient under every other panel: Qt drew it
// again under each panel that changed, a quarter of a millisecond under the
// live picture alone at every tick.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <vector>

class QWidget;

namespace vistrel {

class Cached_Background : public QObject {
public:
    // `widget` must be covered by an opaque style sheet background (the
    // picture stands for everything under it). It paints no background of
    // its own from then on; the picture is made again when the widget's
    // size or style changes.
    explicit Cached_Background(QWidget* widget);

    // A child whose own opaque background covers all of its rectangle
    // (the live picture): the picture is not copied under it, where Qt would
    // paint over it at once.
    void Paints_Over(QWidget* child);

    // Stops using the picture: Qt paints the background again (for tests
    // that compare both).
    void Stop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* widget_;
    QImage picture_;
    std::vector<QPointer<QWidget>> covered_by_;
};

} // namespace vistrel
