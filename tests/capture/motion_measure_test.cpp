#include "capture/motion_measure.h"

#include "capture/extended_float.h"

#include "support/test_frame.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <set>
#include <string>

namespace vistrel {
namespace {

using test::Grey;
using test::Test_Frame;

TEST(SamplingGrid, UsualFrameSizesGiveTheBindingGrids) {
    struct Case {
        int32_t w, h, step, x0, y0, columns, rows;
    };
    const Case cases[] = {
        {40, 30, 2, 0, 0, 20, 15},     {80, 60, 3, 0, 0, 27, 20},    {160, 120, 5, 0, 0, 32, 24},
        {320, 240, 9, 2, 2, 36, 27},   {640, 480, 18, 5, 5, 36, 27}, {800, 600, 22, 3, 3, 37, 28},
        {1280, 720, 31, 4, 3, 42, 24}, {20, 20, 1, 0, 0, 20, 20},    {1, 1, 1, 0, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const Sampling_Grid g = Grid_For(c.w, c.h);
        EXPECT_EQ(g.step, c.step);
        EXPECT_EQ(g.x0, c.x0);
        EXPECT_EQ(g.y0, c.y0);
        EXPECT_EQ(g.columns, c.columns);
        EXPECT_EQ(g.rows, c.rows);
        // The last sample lies inside the frame and one more step would not.
        EXPECT_LT(g.x0 + (g.columns - 1) * g.step, c.w);
        EXPECT_GE(g.x0 + g.columns * g.step, c.w);
        EXPECT_LT(g.y0 + (g.rows - 1) * g.step, c.h);
        EXPECT_GE(g.y0 + g.rows * g.step, c.h);
    }
}

TEST(SamplingGrid, FramesWithoutPixelsHaveNoGrid) {
    for (const auto& [w, h] : {std::pair{0, 0}, {0, 10}, {10, 0}, {-5, 10}, {70000, 70000}})
        EXPECT_EQ(Grid_For(w, h).Samples(), 0) << w << "x" << h;
}

TEST(Luma, GreyLevelsKeepTheirValueExceptFiveThatComeOutOneLower) {
    const std::set<int> lower = {63, 126, 215, 229, 252};
    for (int v = 0; v < 256; ++v) {
        const int expected = lower.count(v) ? v - 1 : v;
        EXPECT_EQ(Luma(uint8_t(v), uint8_t(v), uint8_t(v)), expected) << "grey " << v;
    }
}

TEST(Luma, IntegerPathAgreesWithTheExtendedPrecisionFormEverywhere) {
    int mismatches = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                if (Luma(uint8_t(r), uint8_t(g), uint8_t(b)) !=
                    Luma_Exact(uint8_t(r), uint8_t(g), uint8_t(b)))
                    ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

// Where the rounding of the 64-bit significand decides, by hand: each row
// holds what x87 extended arithmetic gives.
TEST(Extended, RoundsToNearestWithTiesToEven) {
    const uint64_t all_ones = ~uint64_t{0};
    struct Case {
        const char* what;
        Extended value;
        uint64_t significand;
        int exponent;
    };
    const Case cases[] = {
        {"1/3 rounds up", Extended::Quotient(1, 3), 0xAAAAAAAAAAAAAAABu, -65},
        {"2/3 is 1/3 doubled", Extended::Quotient(2, 3), 0xAAAAAAAAAAAAAAABu, -64},
        {"1/10 rounds up", Extended::Quotient(1, 10), 0xCCCCCCCCCCCCCCCDu, -67},
        {"0.299", Extended::Quotient(299, 1000), 0x9916872B020C49BAu, -65},
        {"3 times 1/3 is one", Extended::Quotient(1, 3) * Extended::From_Integer(3),
         uint64_t{1} << 63, -63},
        {"a tie below an even last bit stays",
         Extended::From_Integer(all_ones - 1) + Extended::Quotient(1, 2), all_ones - 1, 0},
        {"a tie below an odd last bit carries",
         Extended::From_Integer(all_ones) + Extended::Quotient(1, 2), uint64_t{1} << 63, 1},
        {"just above a tie rounds up",
         Extended::From_Integer(all_ones - 1) +
             (Extended::Quotient(1, 2) +
              Extended::Quotient(1, uint64_t{1} << 31) * Extended::Quotient(1, uint64_t{1} << 31)),
         all_ones, 0},
        {"a value far below is lost",
         Extended::From_Integer(1) + Extended::Quotient(1, 3) *
                                         Extended::Quotient(1, uint64_t{1} << 32) *
                                         Extended::Quotient(1, uint64_t{1} << 32),
         uint64_t{1} << 63, -63},
        {"the fraction of 7/4", Extended::Quotient(7, 4).Frac(), 0xC000000000000000u, -64},
        {"halving", Extended::From_Integer(10).Half(), 0xA000000000000000u, -61},
        {"zero times anything", Extended{} * Extended::Quotient(1, 3), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.value.Significand(), c.significand);
        EXPECT_EQ(c.value.Exponent(), c.exponent);
    }
    EXPECT_EQ((Extended::Quotient(7, 2)).Trunc(), 3u);
    EXPECT_EQ((Extended::Quotient(1, 2)).Trunc(), 0u);
    EXPECT_EQ(Extended::From_Integer(1u << 20).Trunc(), 1u << 20);
}

// The colours whose integer luma lands on a whole number are the only ones
// where the extended-precision rounding decides; of the 16 774 of them, 722
// come out one lower. Count and order-dependent hash of those 722, as the x87
// format gives them: the reference for processors without it.
TEST(Luma, ColoursOnAWholeNumberComeOutAsInExtendedPrecision) {
    int whole = 0;
    int lower = 0;
    uint32_t hash = 2166136261u;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                const int thousandths = 299 * r + 587 * g + 114 * b;
                if (thousandths % 1000 != 0)
                    continue;
                ++whole;
                if (Luma_Exact(uint8_t(r), uint8_t(g), uint8_t(b)) == thousandths / 1000)
                    continue;
                ++lower;
                for (const int channel : {r, g, b})
                    hash = (hash ^ uint32_t(channel)) * 16777619u;
            }
    EXPECT_EQ(whole, 16774);
    EXPECT_EQ(lower, 722);
    EXPECT_EQ(hash, 0x86a282bau);
}

// On x86 `long double` is the format itself, and the integer forms must give
// its answers everywhere; elsewhere the tables above are the reference.
#if LDBL_MANT_DIG == 64
TEST(Extended, AgreesWithTheX87FormatForEveryStartOffsetAndLuma) {
    int offset_mismatches = 0;
    for (int32_t step = 1; step <= 120; ++step)
        for (int32_t size = 1; size <= 4096; ++size) {
            const long double ratio = static_cast<long double>(size) / step;
            const long double frac = ratio - std::trunc(ratio);
            const auto expected = static_cast<int32_t>(std::trunc(frac * step / 2.0L));
            if (Start_Offset(size, step) != expected)
                ++offset_mismatches;
        }
    EXPECT_EQ(offset_mismatches, 0);
    int luma_mismatches = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                if ((299 * r + 587 * g + 114 * b) % 1000 == 0) {
                    const long double luma = (0.299L * r + 0.587L * g) + 0.114L * b;
                    if (Luma_Exact(uint8_t(r), uint8_t(g), uint8_t(b)) !=
                        static_cast<int32_t>(std::trunc(luma)))
                        ++luma_mismatches;
                }
    EXPECT_EQ(luma_mismatches, 0);
}
#endif

TEST(SamplingGrid, StepIsTheCeilingOfTheRootForEveryPixelCount) {
    // Around each square k² × 1000 the step changes from k to k + 1.
    for (int64_t k = 1; k <= 1465; ++k) {
        const int64_t edge = k * k * 1000;
        for (const int64_t pixels : {edge - 1, edge, edge + 1}) {
            const Sampling_Grid g = Grid_For(1, static_cast<int32_t>(pixels));
            const int64_t expected = pixels <= edge ? k : k + 1;
            ASSERT_EQ(g.step, expected) << pixels << " pixels";
        }
    }
}

TEST(FrameView, ByteOrdersReadTheSameColour) {
    const uint8_t rgbx[] = {10, 20, 30, 0};
    const uint8_t bgrx[] = {30, 20, 10, 0};
    const uint8_t rgb[] = {10, 20, 30};
    const uint32_t expected = 10u | (20u << 8) | (30u << 16);
    EXPECT_EQ(Frame_View::Rgbx(rgbx, 1, 1, 4).Pixel(0, 0), expected);
    EXPECT_EQ(Frame_View::Bgrx(bgrx, 1, 1, 4).Pixel(0, 0), expected);
    EXPECT_EQ(Frame_View::Rgb(rgb, 1, 1, 3).Pixel(0, 0), expected);
}

// A textured frame whose samples vary, so the measure has a deviation.
Test_Frame Texture(int32_t w, int32_t h, int seed = 0) {
    return Test_Frame::Painted(w, h, [seed](int x, int y) {
        return Grey((x * 7 + y * 13 + seed * 31 + (x * y) % 17) % 256);
    });
}

TEST(MotionMeasure, GivesZeroWhenThereIsNothingToCompare) {
    const Test_Frame full = Texture(320, 240);
    struct Case {
        const char* what;
        Test_Frame current, previous;
    };
    const Case cases[] = {
        {"first tick: previous frame still empty", full, Test_Frame()},
        {"972 samples against 768", full, Texture(160, 120)},
        {"identical black frames", Test_Frame(320, 240), Test_Frame(320, 240)},
        {"one side without deviation", full, Test_Frame(320, 240, Grey(128))},
        {"single pixels", Test_Frame(1, 1, Grey(10)), Test_Frame(1, 1, Grey(200))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Calc_Coef_Correl(c.current.View(), c.previous.View(), false), 0.0);
        EXPECT_EQ(Calc_Coef_Correl(c.current.View(), c.previous.View(), true), 0.0);
    }
}

TEST(MotionMeasure, IdenticalFramesMeasureNoMotion) {
    const Test_Frame a = Texture(640, 480);
    const double m = Calc_Coef_Correl(a.View(), a.View(), false);
    EXPECT_GE(m, 0.0);
    EXPECT_LT(m, 1e-12);
}

TEST(MotionMeasure, PhotographicNegativeIsClampedToOneHundred) {
    const Test_Frame a = Texture(320, 240);
    Test_Frame negative = a;
    for (auto& p : negative.pixels)
        p = 0x00FFFFFFu - p;
    EXPECT_EQ(Calc_Coef_Correl(negative.View(), a.View(), false), 100.0);
    EXPECT_EQ(Calc_Coef_Correl(a.View(), negative.View(), true), 100.0);
}

TEST(MotionMeasure, IsSymmetricInItsTwoFrames) {
    const Test_Frame a = Texture(320, 240, 1);
    Test_Frame b = a;
    for (int y = 100; y < 140; ++y)
        for (int x = 100; x < 160; ++x)
            b.At(x, y) = Grey(255);
    const double ab = Calc_Coef_Correl(a.View(), b.View(), false);
    EXPECT_GT(ab, 0.0);
    EXPECT_DOUBLE_EQ(ab, Calc_Coef_Correl(b.View(), a.View(), false));
}

// 20 x 20 frames sample every pixel. The previous frame has 200 pixels at
// `low` and 200 at `high`; the current one turns one `low` pixel `high`. By
// hand: Sxy = 995000, Spp = 1e6 and Scc = 999975 in units of ((high-low)/100)^2,
// whatever the two levels.
std::pair<Test_Frame, Test_Frame> One_Pixel_Change(int low, int high) {
    Test_Frame previous =
        Test_Frame::Painted(20, 20, [&](int x, int) { return Grey(x < 10 ? low : high); });
    Test_Frame current = previous;
    current.At(0, 0) = Grey(high);
    return {current, previous};
}

TEST(MotionMeasure, MapsTheCorrelationToFiveHundredTimesOneMinusR) {
    const double r = 995000.0 / std::sqrt(1e6 * 999975.0);
    const auto [current, previous] = One_Pixel_Change(0, 100);
    EXPECT_NEAR(Calc_Coef_Correl(current.View(), previous.View(), false), 500.0 * (1.0 - r), 1e-9);
}

TEST(MotionMeasure, DarknessRuleDividesByFiveOnlyWhenBothMeansAreBelowFifty) {
    const double r = 995000.0 / std::sqrt(1e6 * 999975.0);
    const double full = 500.0 * (1.0 - r);
    {
        SCOPED_TRACE("means 30 and 30.15: reduced");
        const auto [current, previous] = One_Pixel_Change(0, 60);
        EXPECT_NEAR(Calc_Coef_Correl(current.View(), previous.View(), false), full, 1e-9);
        EXPECT_NEAR(Calc_Coef_Correl(current.View(), previous.View(), true), full / 5, 1e-9);
    }
    {
        SCOPED_TRACE("previous mean exactly 50: not reduced");
        const auto [current, previous] = One_Pixel_Change(0, 100);
        EXPECT_NEAR(Calc_Coef_Correl(current.View(), previous.View(), true), full, 1e-9);
    }
}

TEST(MotionMeasure, FramesOfDifferentShapePairTheirSamplesColumnByColumn) {
    // 320 x 240 samples 36 columns of 27 rows, 240 x 320 samples 27 columns of
    // 36 rows: 972 each. Give the k-th sample of each the same level, k
    // counting down each column first; the series are then identical.
    const auto level = [](int k) { return (k * 37) % 251; };
    const auto paint_by_series_index = [&](int32_t w, int32_t h) {
        const Sampling_Grid g = Grid_For(w, h);
        Test_Frame f(w, h);
        for (int i = 0; i < g.columns; ++i)
            for (int j = 0; j < g.rows; ++j)
                f.At(g.x0 + i * g.step, g.y0 + j * g.step) = Grey(level(i * g.rows + j));
        return f;
    };
    const Test_Frame landscape = paint_by_series_index(320, 240);
    const Test_Frame portrait = paint_by_series_index(240, 320);
    ASSERT_EQ(Grid_For(240, 320).Samples(), 972);
    EXPECT_LT(Calc_Coef_Correl(landscape.View(), portrait.View(), false), 1e-9);

    // Pairing row by row instead would compare unrelated levels.
    Test_Frame row_order(240, 320);
    const Sampling_Grid g = Grid_For(240, 320);
    for (int j = 0; j < g.rows; ++j)
        for (int i = 0; i < g.columns; ++i)
            row_order.At(g.x0 + i * g.step, g.y0 + j * g.step) = Grey(level(j * g.columns + i));
    EXPECT_GT(Calc_Coef_Correl(landscape.View(), row_order.View(), false), 50.0);
}

TEST(MotionMeasure, OnlyGridPixelsMatter) {
    const Test_Frame a = Texture(640, 480, 2);
    Test_Frame b = a;
    // Change every pixel off the grid; the samples stay the same.
    const Sampling_Grid g = Grid_For(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            if ((x - g.x0) % g.step != 0 || (y - g.y0) % g.step != 0)
                b.At(x, y) = Grey(255 - (x % 256));
    EXPECT_LT(Calc_Coef_Correl(a.View(), b.View(), false), 1e-9);
}

// The tick keeps only the previous frame's samples: the level from samples
// must be the frames' own level, bit for bit, in every case of the tables
// above and in the dark.
TEST(MotionMeasure, SamplesKeptOfAFrameGiveExactlyTheFramesOwnLevel) {
    const Test_Frame a = Texture(320, 240, 1);
    Test_Frame b = a;
    for (int y = 100; y < 140; ++y)
        for (int x = 100; x < 160; ++x)
            b.At(x, y) = Grey(255);
    Test_Frame negative = a;
    for (auto& p : negative.pixels)
        p = 0x00FFFFFFu - p;
    const auto [dark_current, dark_previous] = One_Pixel_Change(0, 60);
    const Sampling_Grid g = Grid_For(240, 320);
    Test_Frame portrait = Texture(240, 320, 3);
    portrait.At(g.x0, g.y0) = Grey(7);
    struct Case {
        const char* what;
        Test_Frame current, previous;
    };
    const Case cases[] = {
        {"a small change", b, a},
        {"no change", a, a},
        {"negative", negative, a},
        {"dark", dark_current, dark_previous},
        {"first tick", a, Test_Frame()},
        {"other sample count", a, Texture(160, 120)},
        {"other shape, same count", a, portrait},
        {"no deviation", a, Test_Frame(320, 240, Grey(128))},
        {"1280 x 720", Texture(1280, 720, 4), Texture(1280, 720, 5)},
    };
    for (const Case& c : cases)
        for (const bool dark : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (dark ? ", dark rule" : ""));
            const double kept = Calc_Coef_Correl(Sample_Luma(c.current.View()),
                                                 Sample_Luma(c.previous.View()), dark);
            EXPECT_EQ(kept, Calc_Coef_Correl(c.current.View(), c.previous.View(), dark));
        }
    EXPECT_TRUE(Sample_Luma(Test_Frame().View()).values.empty());
    EXPECT_EQ(Sample_Luma(a.View()).values.size(), size_t(Grid_For(320, 240).Samples()));
}

} // namespace
} // namespace vistrel
