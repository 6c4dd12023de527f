// Decoding the JPEG frames of a camera that streams MJPEG. Only the frame a
// tick takes is decoded, straight into the 32-bit layout the program reads.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace vistrel {

class Jpeg_Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The frame's pixels: `spare`'s own when it has the size and format and
// nobody else holds it, new ones otherwise. Reusing the last frame's memory
// spares the kernel clearing fresh pages for every frame.
QImage Frame_Memory(QImage spare, int width, int height);

// The picture as Format_RGB32 of the size its header gives, in `spare`'s
// memory when it fits (see Frame_Memory). Throws Jpeg_Error for anything
// libjpeg cannot read, and for a frame whose data is damaged: cut short
// (even when the camera still ended it with an end marker, as UVC cameras
// that lose packets do) or holding codes no table has. libjpeg would fill
// what it could not read with grey or garbage, which reads as motion.
QImage Decode_Mjpeg(const uint8_t* data, size_t size, QImage spare = QImage());

} // namespace vistrel
