#include "capture/motion_measure.h"

#include "capture/extended_float.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace vistrel {

namespace {

constexpr double kTarget_Samples = 1000.0;
constexpr double kPercent = 100.0;
constexpr double kGain = 5.0;
constexpr int64_t kDarkness_Limit = 50;

} // namespace

// Trunc(Frac(size / step) * step / 2) with a 64-bit significand. The rounding
// of the division decides the value for even remainders, so the computation
// must stay in this form.
int32_t Start_Offset(int32_t size, int32_t step) noexcept {
    const Extended ratio =
        Extended::Quotient(static_cast<uint64_t>(size), static_cast<uint64_t>(step));
    const Extended spread = ratio.Frac() * Extended::From_Integer(static_cast<uint64_t>(step));
    return static_cast<int32_t>(spread.Half().Trunc());
}

namespace {

// The smallest whole step not below √(pixels / 1000), decided in integers; the
// floating root is only the first guess.
int32_t Grid_Step(int64_t pixels) {
    int64_t step = static_cast<int64_t>(std::sqrt(static_cast<double>(pixels) / kTarget_Samples));
    while (step > 1 && (step - 1) * (step - 1) * 1000 >= pixels)
        --step;
    while (step * step * 1000 < pixels)
        ++step;
    return static_cast<int32_t>(std::max<int64_t>(step, 1));
}

} // namespace

Sampling_Grid Grid_For(int32_t width, int32_t height) noexcept {
    if (width <= 0 || height <= 0)
        return {};
    // The pixel count is a 32-bit product; a frame too large for it has no grid.
    const int64_t pixels = int64_t{width} * height;
    if (pixels > INT32_MAX)
        return {};
    const int32_t step = Grid_Step(pixels);
    Sampling_Grid grid;
    grid.step = step;
    grid.x0 = Start_Offset(width, step);
    grid.y0 = Start_Offset(height, step);
    grid.columns = (width - 1 - grid.x0) / step + 1;
    grid.rows = (height - 1 - grid.y0) / step + 1;
    return grid;
}

int32_t Luma_Exact(uint8_t r, uint8_t g, uint8_t b) noexcept {
    static constexpr Extended kRed = Extended::Quotient(299, 1000);
    static constexpr Extended kGreen = Extended::Quotient(587, 1000);
    static constexpr Extended kBlue = Extended::Quotient(114, 1000);
    const Extended luma = (kRed * Extended::From_Integer(r) + kGreen * Extended::From_Integer(g)) +
                          kBlue * Extended::From_Integer(b);
    return static_cast<int32_t>(luma.Trunc());
}

namespace {

// Grey pixels always land on a whole number of the integer form, so their
// luma comes from the exact form once, at start-up.
const std::array<int32_t, 256> kGrey_Luma = [] {
    std::array<int32_t, 256> t{};
    for (int v = 0; v < 256; ++v)
        t[static_cast<size_t>(v)] = Luma_Exact(uint8_t(v), uint8_t(v), uint8_t(v));
    return t;
}();

} // namespace

int32_t Luma_On_Whole(uint8_t r, uint8_t g, uint8_t b) noexcept {
    if (r == g && g == b)
        return kGrey_Luma[r];
    return Luma_Exact(r, g, b);
}

namespace {

inline int32_t Fast_Luma(uint8_t r, uint8_t g, uint8_t b) {
    return Luma(r, g, b);
}

void Build_Series(const Frame_View& frame, std::vector<int32_t>& series) {
    series.clear();
    if (frame.Empty())
        return;
    const Sampling_Grid grid = Grid_For(frame.width, frame.height);
    series.reserve(static_cast<size_t>(grid.Samples()));
    for (int32_t x = grid.x0; x < frame.width; x += grid.step) {
        for (int32_t y = grid.y0; y < frame.height; y += grid.step) {
            const uint8_t* p = frame.Pixel_At(x, y);
            series.push_back(Fast_Luma(p[frame.red], p[frame.green], p[frame.blue]));
        }
    }
}

using Moments = Correlation_Sums;

// Frames of one size share their grid, so sample i of one pairs with sample i
// of the other whatever order both are walked in. Row by row keeps each row's
// reads within a few memory pages, and the row start is computed once.
Moments Same_Size_Moments(const Frame_View& current, const Frame_View& previous) {
    Moments m;
    const Sampling_Grid grid = Grid_For(current.width, current.height);
    const std::ptrdiff_t c_step = std::ptrdiff_t{grid.step} * current.bytes_per_pixel;
    const std::ptrdiff_t p_step = std::ptrdiff_t{grid.step} * previous.bytes_per_pixel;
    const int cr = current.red, cg = current.green, cb = current.blue;
    const int pr = previous.red, pg = previous.green, pb = previous.blue;
    for (int32_t y = grid.y0; y < current.height; y += grid.step) {
        const uint8_t* c = current.Pixel_At(grid.x0, y);
        const uint8_t* p = previous.Pixel_At(grid.x0, y);
        for (int32_t i = 0; i < grid.columns; ++i, c += c_step, p += p_step)
            m.Add(Fast_Luma(p[pr], p[pg], p[pb]), Fast_Luma(c[cr], c[cg], c[cb]));
    }
    return m;
}

// Frames of different sizes pair their samples by position in the series,
// which goes down each column first.
Moments Paired_Series_Moments(const Frame_View& current, const Frame_View& previous) {
    std::vector<int32_t> p_series;
    std::vector<int32_t> c_series;
    Build_Series(previous, p_series);
    Build_Series(current, c_series);
    Moments m;
    if (p_series.size() != c_series.size())
        return m;
    for (size_t i = 0; i < c_series.size(); ++i)
        m.Add(p_series[i], c_series[i]);
    return m;
}

} // namespace

double Motion_Level(const Correlation_Sums& m, bool reduce_for_darkness) noexcept {
    if (m.n < 1)
        return 0.0;

    // n * covariance and n * variances, exact.
    const int64_t cov = m.n * m.sum_pc - m.sum_p * m.sum_c;
    const int64_t var_p = m.n * m.sum_pp - m.sum_p * m.sum_p;
    const int64_t var_c = m.n * m.sum_cc - m.sum_c * m.sum_c;
    if (var_p == 0 || var_c == 0)
        return 0.0;

    const long double r =
        static_cast<long double>(cov) /
        (std::sqrt(static_cast<long double>(var_p)) * std::sqrt(static_cast<long double>(var_c)));
    double v = (1.0 - static_cast<double>(r)) * kPercent;
    v = v * kGain;
    if (reduce_for_darkness && m.sum_p < kDarkness_Limit * m.n && m.sum_c < kDarkness_Limit * m.n)
        v = v / kGain;
    if (v < 0.0)
        v = 0.0;
    if (v > 100.0)
        v = 100.0;
    return v;
}

double Calc_Coef_Correl(const Frame_View& current, const Frame_View& previous,
                        bool reduce_for_darkness) noexcept {
    try {
        const bool same_size = !current.Empty() && !previous.Empty() &&
                               current.width == previous.width && current.height == previous.height;
        const Moments m = same_size ? Same_Size_Moments(current, previous)
                                    : Paired_Series_Moments(current, previous);
        return Motion_Level(m, reduce_for_darkness);
    } catch (...) {
        return 0.0;
    }
}

Luma_Samples Sample_Luma(const Frame_View& frame) {
    Luma_Samples samples;
    if (frame.Empty())
        return samples;
    samples.width = frame.width;
    samples.height = frame.height;
    Build_Series(frame, samples.values);
    return samples;
}

double Calc_Coef_Correl(const Luma_Samples& current, const Luma_Samples& previous,
                        bool reduce_for_darkness) noexcept {
    // Both series go down the columns of their grids: for frames of one size
    // that pairs the same grid points as the frames' own measure, and the
    // sums do not depend on the order; other sizes pair by position, as
    // there.
    Moments m;
    if (current.values.size() == previous.values.size())
        for (size_t i = 0; i < current.values.size(); ++i)
            m.Add(previous.values[i], current.values[i]);
    return Motion_Level(m, reduce_for_darkness);
}

} // namespace vistrel
