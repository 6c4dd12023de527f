// The motion level between two frames: the Pearson correlation r of the luma
// of about a thousand grid points of each frame, mapped to 500 * (1 - r) and
// clamped to [0, 100].
#pragma once

#include "capture/frame_view.h"

#include <cstdint>
#include <vector>

namespace vistrel {

// Where the measure samples a frame: columns x0, x0 + step, ... below the
// width, and rows y0, y0 + step, ... below the height.
struct Sampling_Grid {
    int32_t step = 0;
    int32_t x0 = 0;
    int32_t y0 = 0;
    int32_t columns = 0;
    int32_t rows = 0;

    int64_t Samples() const { return int64_t{columns} * rows; }
};

// The grid of a W x H frame; all zero when the frame has no pixels. The step
// is the smallest integer not below sqrt(W*H/1000); the offsets are half the
// remainders as extended-precision arithmetic computes
// them, which is one less than the exact half for some even remainders.
Sampling_Grid Grid_For(int32_t width, int32_t height) noexcept;

// The start offset of one axis of the grid: about half of size mod step, done
// in extended precision on every platform. size and step must be positive.
int32_t Start_Offset(int32_t size, int32_t step) noexcept;

// Trunc((0.299 R + 0.587 G) + 0.114 B) in extended precision, on every
// platform: grey levels 63, 126, 215, 229 and 252 come out one lower.
int32_t Luma_Exact(uint8_t r, uint8_t g, uint8_t b) noexcept;

// Luma_Exact where 1000 * luma is a whole number, the one case where the
// integer form below could differ from it.
int32_t Luma_On_Whole(uint8_t r, uint8_t g, uint8_t b) noexcept;

// The same value as Luma_Exact by integer arithmetic: 1000 * luma is exact
// in integers, and away from a whole number the error of the
// extended-precision form (about 1e-16) cannot move the truncation.
inline int32_t Luma(uint8_t r, uint8_t g, uint8_t b) noexcept {
    const int32_t thousandths = 299 * r + 587 * g + 114 * b;
    const int32_t whole = thousandths / 1000;
    if (whole * 1000 != thousandths) [[likely]]
        return whole;
    return Luma_On_Whole(r, g, b);
}

// Exact integer sums of two luma series and their products, from which the
// correlation is computed.
struct Correlation_Sums {
    int64_t n = 0, sum_p = 0, sum_c = 0, sum_pp = 0, sum_cc = 0, sum_pc = 0;

    void Add(int64_t pv, int64_t cv) {
        ++n;
        sum_p += pv;
        sum_c += cv;
        sum_pp += pv * pv;
        sum_cc += cv * cv;
        sum_pc += pv * cv;
    }
};

// 500 * (1 - r) of the sums, clamped to [0, 100]; divided by 5 with
// `reduce_for_darkness` when both means are below 50; 0 without samples or
// without deviation.
double Motion_Level(const Correlation_Sums& sums, bool reduce_for_darkness) noexcept;

// The motion level in [0, 100]; 0 when the frames give series of different
// lengths, no samples, or a series without any deviation. With
// `reduce_for_darkness` the level is divided by 5 when both frames have a mean
// luma below 50. Never throws.
double Calc_Coef_Correl(const Frame_View& current, const Frame_View& previous,
                        bool reduce_for_darkness) noexcept;

// The luma of a frame's grid points, down each column first, and the frame's
// size: all the measure reads of a frame. A tick keeps this of the previous
// frame instead of the frame itself.
struct Luma_Samples {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<int32_t> values;
};

// Empty for a frame without pixels. Throws std::bad_alloc only.
Luma_Samples Sample_Luma(const Frame_View& frame);

// The same level as of the two frames the samples were taken from.
double Calc_Coef_Correl(const Luma_Samples& current, const Luma_Samples& previous,
                        bool reduce_for_darkness) noexcept;

} // namespace vistrel
