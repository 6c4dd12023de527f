// A read-only look at the pixels of a frame held elsewhere (a Qt image, a
// GStreamer buffer, a test buffer), so the motion measure needs no copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vistrel {

struct Frame_View {
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t* data = nullptr;
    std::ptrdiff_t stride = 0; // bytes from one row to the next
    int bytes_per_pixel = 4;
    // Byte offsets of the three colours inside a pixel.
    int red = 0;
    int green = 1;
    int blue = 2;

    bool Empty() const { return data == nullptr || width <= 0 || height <= 0; }

    const uint8_t* Pixel_At(int32_t x, int32_t y) const {
        return data + static_cast<std::ptrdiff_t>(y) * stride +
               static_cast<std::ptrdiff_t>(x) * bytes_per_pixel;
    }

    // The pixel as a 0x00BBGGRR colour.
    uint32_t Pixel(int32_t x, int32_t y) const {
        const uint8_t* p = Pixel_At(x, y);
        return uint32_t{p[red]} | (uint32_t{p[green]} << 8) | (uint32_t{p[blue]} << 16);
    }

    // Bytes R, G, B, x in memory (GStreamer RGBx, a 0x00BBGGRR word on little-endian).
    static Frame_View Rgbx(const void* data, int32_t width, int32_t height, std::ptrdiff_t stride) {
        return {width, height, static_cast<const uint8_t*>(data), stride, 4, 0, 1, 2};
    }
    // Bytes B, G, R, x in memory (GStreamer BGRx, Qt's RGB32 on little-endian).
    static Frame_View Bgrx(const void* data, int32_t width, int32_t height, std::ptrdiff_t stride) {
        return {width, height, static_cast<const uint8_t*>(data), stride, 4, 2, 1, 0};
    }
    // Bytes R, G, B in memory (GStreamer RGB, Qt's RGB888).
    static Frame_View Rgb(const void* data, int32_t width, int32_t height, std::ptrdiff_t stride) {
        return {width, height, static_cast<const uint8_t*>(data), stride, 3, 0, 1, 2};
    }
};

} // namespace vistrel
