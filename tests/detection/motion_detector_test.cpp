#include "detection/motion_detector.h"

#include "capture/motion_measure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vistrel {
namespace {

// A frame in a buffer of its own, in either of the camera's layouts and with
// rows padded past the pixels, as converters hand them over.
struct Frame {
    int32_t width = 0;
    int32_t height = 0;
    std::ptrdiff_t stride = 0;
    bool bgrx = false;
    std::vector<uint8_t> bytes;

    Frame(int32_t w, int32_t h, int padding_pixels = 0, bool blue_first = false)
        : width(w), height(h), stride(std::ptrdiff_t{w + padding_pixels} * 4), bgrx(blue_first),
          bytes(static_cast<size_t>(stride) * static_cast<size_t>(h), 0xAB) {}

    uint8_t* At(int32_t x, int32_t y) { return bytes.data() + y * stride + std::ptrdiff_t{x} * 4; }
    const uint8_t* At(int32_t x, int32_t y) const {
        return bytes.data() + y * stride + std::ptrdiff_t{x} * 4;
    }
    void Set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = At(x, y);
        p[bgrx ? 2 : 0] = r;
        p[1] = g;
        p[bgrx ? 0 : 2] = b;
    }
    int32_t Luma_At(int32_t x, int32_t y) const {
        const uint8_t* p = At(x, y);
        return Luma(p[bgrx ? 2 : 0], p[1], p[bgrx ? 0 : 2]);
    }
    void Fill(const Pixel_Rect& r, uint8_t red, uint8_t green, uint8_t blue) {
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x)
                Set(x, y, red, green, blue);
    }
    Frame_View View() const {
        return bgrx ? Frame_View::Bgrx(bytes.data(), width, height, stride)
                    : Frame_View::Rgbx(bytes.data(), width, height, stride);
    }
};

uint8_t Clamped(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// A smooth scene with the camera's noise on it: two of them with different
// seeds correlate well, so the level between them is well inside (0, 100).
// `scale` below 1 makes a dark scene.
Frame Scene(int32_t w, int32_t h, unsigned seed, double scale = 1.0, int padding = 0,
            bool bgrx = false) {
    Frame f(w, h, padding, bgrx);
    std::mt19937 noise(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int n = static_cast<int>((static_cast<int>(noise() % 31) - 15) * scale);
            const int base = (x * 7 + y * 3) % 180 + 40;
            f.Set(x, y, Clamped(int(base * scale) + n),
                  Clamped(int(((x + 2 * y) % 160 + 50) * scale) + n),
                  Clamped(int(base * scale) - n));
        }
    return f;
}

// The area's pixels copied out into a frame of their own.
Frame Crop(const Frame& f, const Detection_Area& area) {
    const Pixel_Rect r = Pixels_Of(area, f.width, f.height);
    Frame out(r.Width(), r.Height());
    for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x) {
            const uint8_t* p = f.At(x, y);
            out.Set(x - r.left, y - r.top, p[f.bgrx ? 2 : 0], p[1], p[f.bgrx ? 0 : 2]);
        }
    return out;
}

double Crop_Level(const Frame& current, const Frame& previous, const Detection_Area& area,
                  bool dark) {
    return Calc_Coef_Correl(Crop(current, area).View(), Crop(previous, area).View(), dark);
}

// The whole frame's grid, down each column first, without the grid points
// inside `left_out` (and near clipping with the light rule), worked out here
// from the frames' pixels.
double Whole_Frame_Without(const Frame& current, const Frame& previous,
                           const std::vector<Detection_Area>& left_out, bool light, bool dark) {
    const Sampling_Grid grid = Grid_For(current.width, current.height);
    Correlation_Sums sums;
    for (int32_t x = grid.x0; x < current.width; x += grid.step)
        for (int32_t y = grid.y0; y < current.height; y += grid.step) {
            bool out = false;
            for (const Detection_Area& a : left_out) {
                const int64_t w = current.width, h = current.height;
                out = out || (x >= a.x * w / 10000 && x < (a.x + a.w) * w / 10000 &&
                              y >= a.y * h / 10000 && y < (a.y + a.h) * h / 10000);
            }
            const int32_t c = current.Luma_At(x, y);
            const int32_t p = previous.Luma_At(x, y);
            const auto clipped = [](int32_t v) { return v <= 3 || v >= 252; };
            if (out || (light && (clipped(c) || clipped(p))))
                continue;
            sums.Add(p, c);
        }
    return Motion_Level(sums, dark);
}

// The reading of `current` after `previous` on a fresh detector.
Motion_Reading Reading(const std::vector<Detection_Area>& areas, bool light, const Frame& previous,
                       const Frame& current, bool dark = false) {
    Motion_Detector detector;
    detector.Configure(areas, light);
    detector.Measure(previous.View(), dark);
    return detector.Measure(current.View(), dark);
}

std::string Size_Of(const Frame& f) {
    return std::to_string(f.width) + "x" + std::to_string(f.height);
}

TEST(Motion_Detector_Plain, Reads_The_Plain_Measure_Bit_For_Bit_Through_Size_Changes) {
    struct Step {
        int32_t w, h;
        double scale;
        int padding;
        bool bgrx;
        bool dark;
    };
    const Step steps[] = {
        {40, 30, 1.0, 0, false, false},    {40, 30, 1.0, 3, true, false},
        {40, 30, 0.2, 0, false, true},     {40, 30, 0.2, 2, true, true},
        {80, 60, 1.0, 0, false, false},    {80, 60, 1.0, 0, true, true},
        {160, 120, 0.25, 0, false, true},  {160, 120, 0.25, 1, false, true},
        {320, 240, 1.0, 0, false, false},  {320, 240, 1.0, 0, true, false},
        {0, 0, 1.0, 0, false, false},      {640, 480, 1.0, 0, false, false},
        {640, 480, 1.0, 8, true, false},   {641, 479, 1.0, 0, false, false},
        {800, 600, 1.0, 0, false, false},  {800, 600, 0.2, 0, true, true},
        {1280, 720, 1.0, 0, false, false}, {1280, 720, 1.0, 16, true, false},
        {1280, 720, 0.2, 0, false, false}, {640, 480, 1.0, 0, false, false},
        {640, 480, 1.0, 0, false, false},
    };
    Motion_Detector detector;
    std::vector<Frame> frames;
    frames.reserve(std::size(steps));
    Frame_View previous;
    unsigned seed = 1;
    int measured = 0;
    for (const Step& s : steps) {
        frames.push_back(s.w > 0 ? Scene(s.w, s.h, seed++, s.scale, s.padding, s.bgrx)
                                 : Frame(0, 0));
        const Frame_View current = s.w > 0 ? frames.back().View() : Frame_View{};
        SCOPED_TRACE("step " + std::to_string(frames.size()) + ": " + Size_Of(frames.back()));
        const Motion_Reading reading = detector.Measure(current, s.dark);
        EXPECT_EQ(reading.level, Calc_Coef_Correl(current, previous, s.dark));
        EXPECT_TRUE(reading.watch_levels.empty());
        measured += reading.level > 0 && reading.level < 100;
        previous = current;
    }
    // Most pairs gave a level to compare, not the 0 of different grids.
    EXPECT_GE(measured, 10);
}

TEST(Motion_Detector_Areas, A_Watch_Area_Reads_The_Plain_Measure_Of_Its_Own_Pixels) {
    const Detection_Area areas[] = {
        {Area_Kind::Watch, 1000, 500, 4000, 3000},  {Area_Kind::Watch, 0, 0, 10000, 10000},
        {Area_Kind::Watch, 7500, 7500, 2500, 2500}, {Area_Kind::Watch, 3333, 1234, 150, 5000},
        {Area_Kind::Watch, 0, 9000, 10000, 1000},   {Area_Kind::Watch, 4999, 4999, 2, 2},
    };
    const std::pair<int32_t, int32_t> sizes[] = {{640, 480}, {641, 479}, {1280, 720}, {333, 217}};
    for (const auto& [w, h] : sizes)
        for (const Detection_Area& area : areas)
            for (const bool dark : {false, true}) {
                const double scale = dark ? 0.2 : 1.0;
                // The two frames in different layouts: the samples follow
                // each frame's own.
                const Frame previous = Scene(w, h, 10, scale, 5, true);
                const Frame current = Scene(w, h, 11, scale);
                const std::string what = std::to_string(w) + "x" + std::to_string(h) + " area " +
                                         std::to_string(area.x) + "," + std::to_string(area.y) +
                                         (dark ? " dark" : "");
                SCOPED_TRACE(what);
                const double expected = Crop_Level(current, previous, area, dark);
                const Pixel_Rect pixels = Pixels_Of(area, w, h);
                if (pixels.Width() >= 4 && pixels.Height() >= 4) {
                    EXPECT_GT(expected, 0.0);
                }
                const Motion_Reading reading = Reading({area}, false, previous, current, dark);
                EXPECT_EQ(reading.level, expected);
                EXPECT_EQ(reading.watch_levels, std::vector<double>{expected});
            }
}

TEST(Motion_Detector_Areas, Level_Is_The_Highest_Watch_Level_Listed_In_Area_Order) {
    const Frame previous = Scene(640, 480, 20);
    Frame current = previous;
    // Motion in the second watch area only.
    const Detection_Area first{Area_Kind::Watch, 0, 0, 3000, 3000};
    const Detection_Area second{Area_Kind::Watch, 3500, 3500, 3000, 3000};
    const Detection_Area third{Area_Kind::Watch, 7000, 7000, 3000, 3000};
    current.Fill(Pixels_Of({Area_Kind::Watch, 4000, 4000, 1000, 1000}, 640, 480), 250, 30, 30);
    const std::vector<Detection_Area> areas = {first,
                                               {Area_Kind::Ignore, 0, 9000, 1000, 1000},
                                               second,
                                               {Area_Kind::Hide, 9000, 0, 1000, 1000},
                                               third};
    const Motion_Reading still_elsewhere = Reading(areas, false, previous, current);
    const double moved = Crop_Level(current, previous, second, false);
    ASSERT_GT(moved, 0.0);
    EXPECT_EQ(still_elsewhere.watch_levels, (std::vector<double>{0.0, moved, 0.0}));
    EXPECT_EQ(still_elsewhere.level, moved);

    // Motion everywhere: each area its own level, the highest counts.
    const Frame elsewhere = Scene(640, 480, 21);
    const Motion_Reading everywhere = Reading(areas, false, previous, elsewhere);
    const std::vector<double> expected = {Crop_Level(elsewhere, previous, first, false),
                                          Crop_Level(elsewhere, previous, second, false),
                                          Crop_Level(elsewhere, previous, third, false)};
    EXPECT_EQ(everywhere.watch_levels, expected);
    EXPECT_EQ(everywhere.level, *std::max_element(expected.begin(), expected.end()));
}

// The frame with one of its grid columns changed, all down: `column` is
// where, `grid` the grid of the part of the frame it counts in.
Frame With_Column_Moved(const Frame& still, const Sampling_Grid& grid, int32_t& column) {
    column = grid.x0 + 10 * grid.step;
    Frame moved = still;
    moved.Fill({column, 0, column + 1, still.height}, 255, 0, 255);
    return moved;
}

// One grid column moves; an area exactly over it (a 1000 pixel wide frame
// has ten units to the pixel) takes all the motion away, and the same area a
// pixel aside takes none.
TEST(Motion_Detector_Areas, Ignore_And_Hide_Areas_Take_Their_Samples_Out_Of_Both_Frames) {
    const Frame previous = Scene(1000, 800, 30);
    int32_t column = 0;
    const Frame current = With_Column_Moved(previous, Grid_For(1000, 800), column);
    ASSERT_GT(Reading({}, false, previous, current).level, 0.0);
    // The top half watched: a grid of its own.
    const Detection_Area watch{Area_Kind::Watch, 0, 0, 10000, 5000};
    int32_t watched_column = 0;
    const Frame watched_current = With_Column_Moved(previous, Grid_For(1000, 400), watched_column);
    ASSERT_GT(Reading({watch}, false, previous, watched_current).level, 0.0);

    for (const Area_Kind kind : {Area_Kind::Ignore, Area_Kind::Hide}) {
        SCOPED_TRACE(Kind_Name(kind));
        const Detection_Area over{kind, column * 10, 0, 10, 10000};
        const Detection_Area aside{kind, column * 10 + 10, 0, 10, 10000};
        EXPECT_EQ(Reading({over}, false, previous, current).level, 0.0);
        EXPECT_GT(Reading({aside}, false, previous, current).level, 0.0);

        const Detection_Area watched_over{kind, watched_column * 10, 0, 10, 10000};
        const Detection_Area watched_aside{kind, watched_column * 10 - 10, 0, 10, 10000};
        const Motion_Reading watched =
            Reading({watch, watched_over}, false, previous, watched_current);
        EXPECT_EQ(watched.level, 0.0);
        EXPECT_EQ(watched.watch_levels, std::vector<double>{0.0});
        EXPECT_GT(Reading({watched_aside, watch}, false, previous, watched_current).level, 0.0);
    }
    // Motion outside every watch area does not count.
    const Detection_Area left_part{Area_Kind::Watch, 0, 0, column * 10, 10000};
    EXPECT_EQ(Reading({left_part}, false, previous, current).level, 0.0);
    const Detection_Area bottom_half{Area_Kind::Watch, 0, 5000, 10000, 5000};
    Frame top_moved = Scene(1000, 800, 31);
    std::copy(previous.bytes.begin() + 400 * previous.stride, previous.bytes.end(),
              top_moved.bytes.begin() + 400 * top_moved.stride);
    EXPECT_EQ(Reading({bottom_half}, false, previous, top_moved).level, 0.0);
    EXPECT_GT(Reading({watch}, false, previous, top_moved).level, 0.0);
}

TEST(Motion_Detector_Areas, Without_A_Watch_Area_The_Whole_Frame_Is_Watched_Less_Those_Left_Out) {
    const std::vector<std::vector<Detection_Area>> cases = {
        {{Area_Kind::Ignore, 0, 0, 10000, 1500}},
        {{Area_Kind::Hide, 7500, 7500, 2500, 2500}},
        {{Area_Kind::Ignore, 0, 0, 10000, 1500},
         {Area_Kind::Hide, 7500, 7500, 2500, 2500},
         {Area_Kind::Ignore, 2000, 2000, 3000, 3000}},
        {{Area_Kind::Ignore, 3333, 0, 3334, 10000}, {Area_Kind::Hide, 5000, 0, 5000, 10000}},
    };
    for (const auto& [w, h] : {std::pair{640, 480}, {641, 479}, {1280, 720}, {97, 61}})
        for (const std::vector<Detection_Area>& left_out : cases)
            for (const bool dark : {false, true}) {
                SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + ", " +
                             std::to_string(left_out.size()) + " areas" + (dark ? ", dark" : ""));
                const double scale = dark ? 0.2 : 1.0;
                const Frame previous = Scene(w, h, 40, scale);
                const Frame current = Scene(w, h, 41, scale, 2, true);
                const double expected =
                    Whole_Frame_Without(current, previous, left_out, false, dark);
                ASSERT_GT(expected, 0.0);
                // Not what the whole frame reads: the left-out samples did count.
                EXPECT_NE(expected, Calc_Coef_Correl(current.View(), previous.View(), dark));
                const Motion_Reading reading = Reading(left_out, false, previous, current, dark);
                EXPECT_EQ(reading.level, expected);
                EXPECT_TRUE(reading.watch_levels.empty());
            }
}

// A block of the picture goes from one colour to another over a still scene
// without any clipped pixel.
TEST(Motion_Detector_Light, Samples_Near_Black_Or_White_In_Either_Frame_Are_Left_Out) {
    struct Colour {
        uint8_t r, g, b;
    };
    struct Case {
        const char* what;
        Colour before, after;
        bool counts;
    };
    const Case cases[] = {
        {"mid grey to white", {128, 128, 128}, {255, 255, 255}, false},
        {"white to near white", {255, 255, 255}, {253, 253, 253}, false},
        {"black to mid grey", {0, 0, 0}, {128, 128, 128}, false},
        {"luma 3 to mid grey", {3, 3, 3}, {128, 128, 128}, false},
        {"mid grey to luma 252", {128, 128, 128}, {252, 252, 253}, false},
        {"luma 4 to luma 251", {4, 4, 4}, {251, 251, 251}, true},
        // Grey 252 has a luma of 251 in the measure's arithmetic.
        {"mid grey to grey 252", {128, 128, 128}, {252, 252, 252}, true},
        {"mid grey to red", {128, 128, 128}, {255, 0, 0}, true},
    };
    const Detection_Area block_area{Area_Kind::Watch, 2500, 2500, 5000, 5000};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Frame previous = Scene(640, 480, 50);
        Frame current = previous;
        const Pixel_Rect block = Pixels_Of(block_area, 640, 480);
        previous.Fill(block, c.before.r, c.before.g, c.before.b);
        current.Fill(block, c.after.r, c.after.g, c.after.b);
        ASSERT_GT(Reading({}, false, previous, current).level, 0.0);

        const double whole = Reading({}, true, previous, current).level;
        EXPECT_EQ(whole, Whole_Frame_Without(current, previous, {}, true, false));
        EXPECT_EQ(whole > 0.0, c.counts);
        // The same inside a watch area.
        const Detection_Area watch{Area_Kind::Watch, 2000, 2000, 6000, 6000};
        const Motion_Reading watched = Reading({watch}, true, previous, current);
        EXPECT_EQ(watched.level > 0.0, c.counts);
        ASSERT_EQ(watched.watch_levels.size(), 1u);
        EXPECT_EQ(watched.watch_levels[0], watched.level);
    }
}

TEST(Motion_Detector_Light, Frames_Without_Clipped_Pixels_Read_As_Without_The_Rule) {
    for (const auto& [w, h] : {std::pair{640, 480}, {1280, 720}, {41, 31}}) {
        const Frame previous = Scene(w, h, 60);
        const Frame current = Scene(w, h, 61);
        EXPECT_EQ(Reading({}, true, previous, current).level,
                  Calc_Coef_Correl(current.View(), previous.View(), false))
            << w << "x" << h;
    }
}

TEST(Motion_Detector_State, Configure_And_Forget_Drop_The_Previous_Frame) {
    const Frame a = Scene(320, 240, 70);
    const Frame b = Scene(320, 240, 71);
    const std::vector<std::vector<Detection_Area>> settings = {
        {}, {{Area_Kind::Watch, 1000, 1000, 5000, 5000}}, {{Area_Kind::Ignore, 0, 0, 5000, 5000}}};
    for (const std::vector<Detection_Area>& areas : settings)
        for (const bool light : {false, true}) {
            SCOPED_TRACE(std::to_string(areas.size()) + " areas, light " + std::to_string(light));
            Motion_Detector detector;
            detector.Configure(areas, light);
            EXPECT_EQ(detector.Measure(a.View(), false).level, 0.0);
            const double moved = detector.Measure(b.View(), false).level;
            ASSERT_GT(moved, 0.0);

            // The same settings again: b's samples must not pair with a.
            detector.Configure(areas, light);
            EXPECT_EQ(detector.Measure(a.View(), false).level, 0.0);
            EXPECT_EQ(detector.Measure(b.View(), false).level, moved);

            detector.Forget();
            EXPECT_EQ(detector.Measure(a.View(), false).level, 0.0);
            EXPECT_EQ(detector.Measure(b.View(), false).level, moved);

            // A frame without pixels leaves nothing to pair the next with.
            EXPECT_EQ(detector.Measure(Frame_View{}, false).level, 0.0);
            EXPECT_EQ(detector.Measure(a.View(), false).level, 0.0);
        }
}

// Switching between the plain measure and areas must not pair a frame with
// samples kept under the other settings.
TEST(Motion_Detector_State, Samples_Kept_Under_Other_Settings_Are_Not_Used) {
    const Frame a = Scene(320, 240, 80);
    const Frame b = Scene(320, 240, 81);
    const std::vector<Detection_Area> areas = {{Area_Kind::Ignore, 0, 0, 2000, 2000}};
    Motion_Detector detector;
    detector.Measure(a.View(), false);
    detector.Configure(areas, false);
    EXPECT_EQ(detector.Measure(b.View(), false).level, 0.0);
    detector.Configure({}, false);
    EXPECT_EQ(detector.Measure(a.View(), false).level, 0.0);
    EXPECT_EQ(detector.Measure(b.View(), false).level, Calc_Coef_Correl(b.View(), a.View(), false));
}

// After a change of camera size the two frames' samples pair by their place
// in the series, as the plain measure pairs two such frames.
TEST(Motion_Detector_Areas, Frames_Of_Different_Sizes_Pair_By_Position) {
    const std::vector<Detection_Area> areas = {{Area_Kind::Watch, 1000, 1000, 5000, 5000},
                                               {Area_Kind::Watch, 0, 0, 10000, 10000}};
    struct Case {
        int32_t w1, h1, w2, h2;
    };
    for (const Case& c : {Case{640, 480, 642, 482}, Case{640, 480, 643, 478},
                          Case{640, 480, 1280, 720}, Case{1280, 720, 320, 240}}) {
        SCOPED_TRACE(std::to_string(c.w1) + "x" + std::to_string(c.h1) + " then " +
                     std::to_string(c.w2) + "x" + std::to_string(c.h2));
        const Frame previous = Scene(c.w1, c.h1, 90);
        const Frame current = Scene(c.w2, c.h2, 91, 1.0, 3, true);
        std::vector<double> expected;
        for (const Detection_Area& area : areas)
            expected.push_back(Crop_Level(current, previous, area, false));
        const Motion_Reading reading = Reading(areas, false, previous, current);
        EXPECT_EQ(reading.watch_levels, expected);
        EXPECT_EQ(reading.level, *std::max_element(expected.begin(), expected.end()));
    }
    // The first two cases keep the grids' lengths: a real level to compare.
    const Frame previous = Scene(640, 480, 90);
    EXPECT_GT(Reading(areas, false, previous, Scene(642, 482, 91)).level, 0.0);
}

// The grid points of `area` on a w x h frame, down each column first.
std::vector<std::pair<int32_t, int32_t>> Grid_Points(const Detection_Area& area, int32_t w,
                                                     int32_t h) {
    const Pixel_Rect r = Pixels_Of(area, w, h);
    const Sampling_Grid g = Grid_For(r.Width(), r.Height());
    std::vector<std::pair<int32_t, int32_t>> points;
    for (int32_t x = r.left + g.x0; x < r.right; x += g.step)
        for (int32_t y = r.top + g.y0; y < r.bottom; y += g.step)
            points.emplace_back(x, y);
    return points;
}

// A camera turned on its side: 640 x 480 and 480 x 640 have grids of as many
// points, 36 columns of 27 and 27 of 36. The turned frame carries the first
// one's samples, a little changed, in column-first order, so only that order
// pairs them into a low level.
TEST(Motion_Detector_Areas, A_Turned_Frame_Pairs_Its_Samples_Down_The_Columns) {
    const Frame previous = Scene(640, 480, 95);
    const Detection_Area whole{Area_Kind::Watch, 0, 0, 10000, 10000};
    const Detection_Area part{Area_Kind::Watch, 1000, 1000, 5000, 5000};
    struct Case {
        std::vector<Detection_Area> areas;
        bool light;
        Detection_Area sampled;
    };
    const Case cases[] = {
        {{}, false, whole},    {{}, true, whole},    {{whole}, false, whole},
        {{part}, false, part}, {{part}, true, part},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.areas.size()) + " areas, light " + std::to_string(c.light));
        const auto from = Grid_Points(c.sampled, 640, 480);
        const auto to = Grid_Points(c.sampled, 480, 640);
        ASSERT_EQ(from.size(), to.size());
        Frame current = Scene(480, 640, 96);
        std::mt19937 noise(97);
        for (size_t k = 0; k < from.size(); ++k) {
            const uint8_t* p = previous.At(from[k].first, from[k].second);
            const int n = static_cast<int>(noise() % 9) - 4;
            current.Set(to[k].first, to[k].second, Clamped(p[0] + n), Clamped(p[1] + n),
                        Clamped(p[2] + n));
        }
        const double expected = Crop_Level(current, previous, c.sampled, false);
        ASSERT_GT(expected, 0.0);
        ASSERT_LT(expected, 50.0);
        EXPECT_EQ(Reading(c.areas, c.light, previous, current).level, expected);
    }
}

} // namespace
} // namespace vistrel
