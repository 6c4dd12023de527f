// The camera's picture as the window shows it: scaled into the live view's
// box, at a small part of the cost of smoothing every pixel of the frame.
#pragma once

#include <QImage>
#include <QSize>

namespace vistrel {

// The frame scaled to fit `box` with its aspect ratio kept, smoothed, for the
// live view.
QImage Scale_For_Display(const QImage& frame, QSize box);

// Stretch_Nearest(frame, target * 2) smoothed to `target` exactly as
// QImage::scaled smooths it, in one pass on the calling thread.
QImage Pick_And_Halve(const QImage& frame, QSize target);

} // namespace vistrel
