#include "ui/live_view.h"

#include "recording/snapshot.h"

#include <cstdint>
#include <vector>

namespace vistrel {

namespace {

// The colours of four pixels added and divided by 4, rounded down. Red and
// blue side by side in one word, green in another: the sums of four bytes fit
// in the ten bits each has there.
uint32_t Quarter_Sum(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    const uint32_t red_blue = (a & 0xff00ffu) + (b & 0xff00ffu) + (c & 0xff00ffu) + (d & 0xff00ffu);
    const uint32_t green = (a & 0xff00u) + (b & 0xff00u) + (c & 0xff00u) + (d & 0xff00u);
    return 0xff000000u | ((red_blue >> 2) & 0xff00ffu) | ((green >> 2) & 0xff00u);
}

} // namespace

QImage Scale_For_Display(const QImage& frame, QSize box) {
    if (frame.isNull())
        return {};
    if (box.isEmpty())
        return {};
    // A very flat frame still shows as one row, as QImage::scaled does.
    const QSize target = frame.size().scaled(box, Qt::KeepAspectRatio).expandedTo({1, 1});
    // Smoothing every pixel of a camera frame down to a small view cost more
    // than the rest of a tick together. Picking pixels down to twice the view
    // first leaves four source pixels under each shown one, which looks the
    // same in a view this size, for a small part of the work. Smaller frames
    // are cheap enough as they are.
    const QSize between = target * 2;
    if (frame.width() >= 2 * between.width() && frame.height() >= 2 * between.height())
        return Pick_And_Halve(frame, target);
    return frame.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage Pick_And_Halve(const QImage& given, QSize target) {
    const QImage frame = given.format() == QImage::Format_RGB32
                             ? given
                             : given.convertToFormat(QImage::Format_RGB32);
    QImage out(target, QImage::Format_RGB32);
    if (out.isNull() || frame.isNull())
        return out;
    // The picked pixels go straight into their quarters, without the
    // picture twice the view's size in between. Qt's smooth scaling of an
    // exact halving weighs the four pixels under each new one a quarter each
    // in its fixed point, with nothing lost before the end: each colour is
    // the four's sum divided by 4, rounded down. Done here on the calling
    // thread, where Qt would split a large image across its thread pool and
    // wake it at every tick, and at a fraction of the cost.
    const std::vector<int> columns = Nearest_Index_Table(frame.width(), 2 * target.width());
    const std::vector<int> rows = Nearest_Index_Table(frame.height(), 2 * target.height());
    for (int y = 0; y < target.height(); ++y) {
        const auto* top =
            reinterpret_cast<const uint32_t*>(frame.constScanLine(rows[size_t(2 * y)]));
        const auto* bottom =
            reinterpret_cast<const uint32_t*>(frame.constScanLine(rows[size_t(2 * y + 1)]));
        auto* to = reinterpret_cast<uint32_t*>(out.scanLine(y));
        for (int x = 0; x < target.width(); ++x) {
            const int left = columns[size_t(2 * x)], right = columns[size_t(2 * x + 1)];
            to[x] = Quarter_Sum(top[left], top[right], bottom[left], bottom[right]);
        }
    }
    return out;
}

} // namespace vistrel
