// The small picture of an episode's row: its first picture decoded at an
// eighth of its size, which libjpeg-turbo does for a fraction of a full
// decode's cost by skipping most of the inverse transform.
#pragma once

#include <QImage>
#include <QSize>
#include <string>

namespace vistrel {

// The picture at an eighth of its size (rounded up as libjpeg rounds), as
// Format_RGB32. A null image for a file that is missing, unreadable or
// damaged. Never throws.
QImage Decode_Thumbnail(const std::string& path) noexcept;

// The same from the file's bytes.
QImage Decode_Thumbnail_Bytes(const std::string& jpeg) noexcept;

// The size a JPEG file's header gives; an invalid size when it has none.
QSize Read_Jpeg_Size(const std::string& jpeg) noexcept;

} // namespace vistrel
