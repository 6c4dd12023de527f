// A Frame_View on the pixels of a QImage, without copying them.
#pragma once

#include "capture/frame_view.h"

#include <QImage>

namespace vistrel {

// An empty view for a null image or a pixel format the measure cannot read.
inline Frame_View View_Of(const QImage& image) {
    const uchar* bits = image.constBits();
    const int w = image.width();
    const int h = image.height();
    const qsizetype stride = image.bytesPerLine();
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return Frame_View::Bgrx(bits, w, h, stride);
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
        return Frame_View::Rgbx(bits, w, h, stride);
    case QImage::Format_RGB888:
        return Frame_View::Rgb(bits, w, h, stride);
    default:
        return {};
    }
}

} // namespace vistrel
