#include "detection/detection_area.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace vistrel {
namespace {

std::string Name_Of(const Detection_Area& a) {
    return Kind_Name(a.kind) + "," + std::to_string(a.x) + "," + std::to_string(a.y) + "," +
           std::to_string(a.w) + "," + std::to_string(a.h);
}

TEST(Detection_Area_Pixels, Floors_Both_Edges_Of_Each_Axis) {
    struct Case {
        Detection_Area area;
        int32_t width, height;
        Pixel_Rect pixels;
    };
    // Worked by hand: left = floor(X * width / 10000), right = floor((X + W) *
    // width / 10000), the same for rows.
    const Case cases[] = {
        {{Area_Kind::Watch, 1000, 500, 4000, 3000}, 640, 480, {64, 24, 320, 168}},
        {{Area_Kind::Hide, 7500, 7500, 2500, 2500}, 1920, 1080, {1440, 810, 1920, 1080}},
        {{Area_Kind::Watch, 0, 0, 10000, 10000}, 641, 479, {0, 0, 641, 479}},
        {{Area_Kind::Watch, 0, 0, 10000, 10000}, 1, 1, {0, 0, 1, 1}},
        // 3333 * 641 = 2136453, 6667 * 641 = 4273547; 3333 * 479 = 1596507,
        // 6667 * 479 = 3193493.
        {{Area_Kind::Ignore, 3333, 3333, 3334, 3334}, 641, 479, {213, 159, 427, 319}},
        // 9999 * 641 = 6409359: the last column alone is left of the edge.
        {{Area_Kind::Watch, 9999, 0, 1, 10000}, 641, 479, {640, 0, 641, 479}},
        // Too thin for one pixel of a tiny frame: 3000 * 3 / 10000 < 1.
        {{Area_Kind::Watch, 0, 0, 3000, 3000}, 3, 2, {0, 0, 0, 0}},
        {{Area_Kind::Watch, 5000, 5000, 100, 100}, 10, 10, {5, 5, 5, 5}},
        // 10000 times the width is beyond 32 bits.
        {{Area_Kind::Watch, 9999, 0, 1, 10000}, 300000, 2, {299970, 0, 300000, 2}},
        {{Area_Kind::Watch, 5000, 5000, 5000, 5000},
         250000,
         250000,
         {125000, 125000, 250000, 250000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Name_Of(c.area) + " on " + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        const Pixel_Rect r = Pixels_Of(c.area, c.width, c.height);
        EXPECT_EQ(r.left, c.pixels.left);
        EXPECT_EQ(r.top, c.pixels.top);
        EXPECT_EQ(r.right, c.pixels.right);
        EXPECT_EQ(r.bottom, c.pixels.bottom);
        EXPECT_EQ(r.Empty(), c.pixels.right <= c.pixels.left || c.pixels.bottom <= c.pixels.top);
    }
}

TEST(Detection_Area_Pixels, Frames_Without_Pixels_And_Areas_Outside_Give_Nothing) {
    const Detection_Area whole{Area_Kind::Watch, 0, 0, 10000, 10000};
    for (const auto& [w, h] : {std::pair{0, 0}, {0, 480}, {640, 0}, {-640, 480}, {640, -1}}) {
        const Pixel_Rect r = Pixels_Of(whole, w, h);
        EXPECT_TRUE(r.Empty()) << w << "x" << h;
        EXPECT_EQ(r, Pixel_Rect{}) << w << "x" << h;
    }
    for (const Detection_Area& outside : {Detection_Area{Area_Kind::Watch, 5000, 0, 5001, 10},
                                          Detection_Area{Area_Kind::Hide, -10, 0, 100, 100},
                                          Detection_Area{Area_Kind::Ignore, 0, 0, 0, 100}}) {
        EXPECT_EQ(Pixels_Of(outside, 640, 480), Pixel_Rect{}) << Name_Of(outside);
    }
}

// Areas drawn side by side must share their edge column: no pixel measured
// twice, none left between them, whatever the frame's size.
TEST(Detection_Area_Pixels, Neighbouring_Areas_Tile_The_Frame) {
    for (int32_t size = 1; size <= 700; size += 3) {
        for (const int32_t split : {1, 333, 2500, 5000, 6667, 9999}) {
            const Pixel_Rect left =
                Pixels_Of({Area_Kind::Watch, 0, 0, split, 10000}, size, size + 1);
            const Pixel_Rect right =
                Pixels_Of({Area_Kind::Watch, split, 0, 10000 - split, 10000}, size, size + 1);
            const Pixel_Rect top = Pixels_Of({Area_Kind::Watch, 0, 0, 10000, split}, size, size);
            const Pixel_Rect bottom =
                Pixels_Of({Area_Kind::Watch, 0, split, 10000, 10000 - split}, size, size);
            SCOPED_TRACE("size " + std::to_string(size) + " split " + std::to_string(split));
            EXPECT_EQ(left.left, 0);
            EXPECT_EQ(left.right, right.left);
            EXPECT_EQ(right.right, size);
            EXPECT_EQ(left.bottom, size + 1);
            EXPECT_EQ(top.top, 0);
            EXPECT_EQ(top.bottom, bottom.top);
            EXPECT_EQ(bottom.bottom, size);
        }
    }
}

TEST(Detection_Area_Pixels, Rect_Contains_Its_Half_Open_Range) {
    const Pixel_Rect r{10, 20, 13, 22};
    EXPECT_EQ(r.Width(), 3);
    EXPECT_EQ(r.Height(), 2);
    EXPECT_TRUE(r.Contains(10, 20));
    EXPECT_TRUE(r.Contains(12, 21));
    EXPECT_FALSE(r.Contains(13, 21));
    EXPECT_FALSE(r.Contains(12, 22));
    EXPECT_FALSE(r.Contains(9, 20));
    EXPECT_FALSE(r.Contains(10, 19));
}

TEST(Detection_Area_Fits, Accepts_Exactly_The_Areas_Inside_The_Frame) {
    struct Case {
        int32_t x, y, w, h;
        bool fits;
    };
    const Case cases[] = {
        {0, 0, 10000, 10000, true},
        {0, 0, 1, 1, true},
        {9999, 9999, 1, 1, true},
        {5000, 0, 5000, 10000, true},
        {0, 5000, 10000, 5000, true},
        {5000, 0, 5001, 10000, false},
        {0, 5000, 10000, 5001, false},
        {10000, 0, 1, 1, false},
        {0, 10000, 1, 1, false},
        {-1, 0, 10, 10, false},
        {0, -1, 10, 10, false},
        {0, 0, 0, 10, false},
        {0, 0, 10, 0, false},
        {0, 0, -5, 10, false},
        {0, 0, 10, -5, false},
        // Sums past 32 bits must not wrap round into the frame.
        {1, 0, INT32_MAX, 10, false},
        {0, 1, 10, INT32_MAX, false},
        {INT32_MAX, 0, 1, 1, false},
        {0, INT32_MAX, 1, 1, false},
        {INT32_MIN, 0, 1, 1, false},
    };
    for (const Case& c : cases) {
        for (const Area_Kind kind : {Area_Kind::Watch, Area_Kind::Ignore, Area_Kind::Hide}) {
            const Detection_Area area{kind, c.x, c.y, c.w, c.h};
            EXPECT_EQ(Fits_Frame(area), c.fits) << Name_Of(area);
        }
    }
}

TEST(Detection_Area_Kind, Names_Read_Back_And_Others_Are_Refused) {
    for (const Area_Kind kind : {Area_Kind::Watch, Area_Kind::Ignore, Area_Kind::Hide})
        EXPECT_EQ(Parse_Kind(Kind_Name(kind)), kind);
    EXPECT_EQ(Kind_Name(Area_Kind::Watch), "watch");
    EXPECT_EQ(Kind_Name(Area_Kind::Ignore), "ignore");
    EXPECT_EQ(Kind_Name(Area_Kind::Hide), "hide");
    for (const char* other : {"", "watc", "watched", "hides", "ignore,", "mask", "0"})
        EXPECT_FALSE(Parse_Kind(other).has_value()) << '"' << other << '"';
}

TEST(Detection_Area_Kind, Has_Kind_Looks_At_Every_Area) {
    const std::vector<Detection_Area> areas = {{Area_Kind::Ignore, 0, 0, 10, 10},
                                               {Area_Kind::Ignore, 10, 0, 10, 10},
                                               {Area_Kind::Hide, 20, 0, 10, 10}};
    EXPECT_TRUE(Has_Kind(areas, Area_Kind::Ignore));
    EXPECT_TRUE(Has_Kind(areas, Area_Kind::Hide));
    EXPECT_FALSE(Has_Kind(areas, Area_Kind::Watch));
    EXPECT_FALSE(Has_Kind({}, Area_Kind::Hide));
}

} // namespace
} // namespace vistrel
