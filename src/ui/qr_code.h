// The QR code a phone's camera reads the ntfy address from.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QtGlobal>

#include <string>

namespace vistrel {

// White modules around the code: readers need them to find its corners.
inline constexpr int kQr_Quiet_Zone = 4;

// One pixel per module, black on white, the quiet zone included; a null
// image when the text cannot be encoded (empty, or too long for a code).
QImage Qr_Code_Image(const std::string& text);

// `code` enlarged by the largest whole number of device pixels per module
// that keeps it within `side` logical pixels at `ratio` device pixels per
// logical one, each pixel copied: a module blurred over a pixel's border
// makes the code hard to read from a screen.
QPixmap Qr_Code_Pixmap(const QImage& code, int side, qreal ratio);

} // namespace vistrel
