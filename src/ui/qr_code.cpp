#include "ui/qr_code.h"

#include <qrencode.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace vistrel {

QImage Qr_Code_Image(const std::string& text) {
    if (text.empty())
        return {};
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code)
        return {};
    const int width = code->width;
    const int side = width + 2 * kQr_Quiet_Zone;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < width; ++y) {
        uchar* row = image.scanLine(y + kQr_Quiet_Zone) + kQr_Quiet_Zone;
        for (int x = 0; x < width; ++x)
            if (code->data[y * width + x] & 1) // the low bit is the module's colour
                row[x] = 0;
    }
    return image;
}

QPixmap Qr_Code_Pixmap(const QImage& code, int side, qreal ratio) {
    if (code.isNull() || code.width() <= 0)
        return {};
    const QImage grey = code.convertToFormat(QImage::Format_Grayscale8);
    const int device_side = static_cast<int>(std::floor(side * ratio));
    const int scale = std::max(1, device_side / grey.width());
    QImage big(grey.size() * scale, QImage::Format_Grayscale8);
    for (int y = 0; y < big.height(); ++y) {
        const uchar* from = grey.constScanLine(y / scale);
        uchar* to = big.scanLine(y);
        for (int x = 0; x < big.width(); ++x)
            to[x] = from[x / scale];
    }
    QPixmap pixmap = QPixmap::fromImage(big);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

} // namespace vistrel
