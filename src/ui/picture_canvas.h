// The Episodes viewer's picture: fitted to the widget, scaled once per
// picture and size to the screen's own pixels, so that it stays sharp on a
// scaled screen.
#pragma once

#include <QImage>
#include <QWidget>

namespace vistrel {

class Picture_Canvas : public QWidget {
    Q_OBJECT

public:
    explicit Picture_Canvas(QWidget* parent = nullptr);

    void Show(QImage picture);
    const QImage& Picture() const { return picture_; }
    // What was last drawn, at the screen's pixels; for the tests.
    const QImage& Drawn() const { return scaled_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    QImage scaled_;
};

} // namespace vistrel
