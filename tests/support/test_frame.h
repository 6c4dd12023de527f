// A frame held in memory for tests, with pixels as 0x00BBGGRR words.
#pragma once

#include "capture/frame_view.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace vistrel::test {

inline uint32_t Grey(int level) {
    const auto v = static_cast<uint32_t>(level);
    return v | (v << 8) | (v << 16);
}

struct Test_Frame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;

    Test_Frame() = default;
    Test_Frame(int32_t w, int32_t h, uint32_t colour = 0)
        : width(w), height(h), pixels(static_cast<size_t>(w) * h, colour) {}

    // Fills every pixel from a function of its column and row.
    static Test_Frame Painted(int32_t w, int32_t h,
                              const std::function<uint32_t(int, int)>& paint) {
        Test_Frame f(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                f.At(x, y) = paint(x, y);
        return f;
    }

    uint32_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }

    // On a little-endian machine a 0x00BBGGRR word lies in memory as R, G, B, 0.
    Frame_View View() const {
        return Frame_View::Rgbx(pixels.data(), width, height, std::ptrdiff_t{width} * 4);
    }
};

} // namespace vistrel::test
