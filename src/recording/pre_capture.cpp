#include "recording/pre_capture.h"

#include <QPainter>
#include <algorithm>
#include <utility>

namespace vistrel {

void Pre_Capture_Ring::Set_Capacity(size_t capacity) {
    capacity_ = capacity;
    while (frames_.size() > capacity_)
        frames_.pop_front();
}

QImage Pre_Capture_Ring::Push(QImage frame, const Local_Date_Time& when, uint32_t tick) {
    if (capacity_ == 0)
        return frame;
    QImage dropped;
    if (frames_.size() == capacity_) {
        dropped = std::move(frames_.front().frame);
        frames_.pop_front();
    }
    frames_.push_back({std::move(frame), when, tick});
    return dropped;
}

std::vector<Captured_Frame> Pre_Capture_Ring::Take() {
    std::vector<Captured_Frame> taken(std::make_move_iterator(frames_.begin()),
                                      std::make_move_iterator(frames_.end()));
    frames_.clear();
    return taken;
}

size_t Pre_Capture_Ring::Bytes_Held() const {
    size_t bytes = 0;
    for (const Captured_Frame& f : frames_)
        bytes += static_cast<size_t>(f.frame.sizeInBytes());
    return bytes;
}

void Black_Out_Hidden(QImage& frame, const std::vector<Detection_Area>& areas) {
    if (frame.isNull())
        return;
    const bool plain_words = frame.format() == QImage::Format_RGB32 ||
                             frame.format() == QImage::Format_ARGB32 ||
                             frame.format() == QImage::Format_ARGB32_Premultiplied;
    for (const Detection_Area& area : areas) {
        if (area.kind != Area_Kind::Hide)
            continue;
        const Pixel_Rect r = Pixels_Of(area, frame.width(), frame.height());
        if (r.Empty())
            continue;
        if (!plain_words) {
            QPainter(&frame).fillRect(r.left, r.top, r.Width(), r.Height(), Qt::black);
            continue;
        }
        for (int32_t y = r.top; y < r.bottom; ++y) {
            auto* row = reinterpret_cast<QRgb*>(frame.scanLine(y));
            std::fill(row + r.left, row + r.right, qRgb(0, 0, 0));
        }
    }
}

} // namespace vistrel
