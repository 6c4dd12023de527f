// Pictures whose pixels a test can check: each spelling its coordinates, or
// noise from a seed.
#pragma once

#include <QImage>
#include <QPoint>

#include <random>

namespace vistrel::test {

// Every pixel a different colour that spells its own coordinates.
inline QImage Coordinate_Image(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, ((x >> 8) & 0x0F) | ((y >> 8) << 4)));
    return img;
}

inline QPoint Coordinates_Of(QRgb c) {
    return {qRed(c) | ((qBlue(c) & 0x0F) << 8), qGreen(c) | ((qBlue(c) >> 4) << 8)};
}

inline QImage Noise_Image(int w, int h, unsigned seed) {
    std::mt19937 gen(seed);
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(int(gen() % 256), int(gen() % 256), int(gen() % 256)));
    return img;
}

} // namespace vistrel::test
