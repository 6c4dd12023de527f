// The rectangles a user draws on the camera's picture: where motion counts,
// where it never counts, and what is blacked out of every picture. They are
// kept relative to the frame, in ten-thousandths of its width and height, so
// a change of camera or resolution leaves them where they were drawn.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vistrel {

enum class Area_Kind {
    Watch,  // only motion inside watched areas counts
    Ignore, // motion inside never counts
    Hide,   // black in every picture, never measured
};

inline constexpr int32_t kArea_Scale = 10000;
inline constexpr size_t kMost_Areas = 8;

struct Detection_Area {
    Area_Kind kind = Area_Kind::Watch;
    int32_t x = 0; // ten-thousandths of the frame's width
    int32_t y = 0; // ten-thousandths of the frame's height
    int32_t w = 0;
    int32_t h = 0;

    bool operator==(const Detection_Area&) const = default;
};

// "watch", "ignore", "hide".
std::string Kind_Name(Area_Kind kind);
std::optional<Area_Kind> Parse_Kind(const std::string& name);

// Inside the frame and not empty: X, Y at least 0, W, H at least 1,
// X + W and Y + H at most 10000.
bool Fits_Frame(const Detection_Area& area);

// Pixels [left, right) x [top, bottom) of a frame.
struct Pixel_Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(int32_t x, int32_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const Pixel_Rect&) const = default;
};

// Columns floor(X * width / 10000) to floor((X + W) * width / 10000) - 1, and
// the same for rows; empty for a frame without pixels.
Pixel_Rect Pixels_Of(const Detection_Area& area, int32_t width, int32_t height);

bool Has_Kind(const std::vector<Detection_Area>& areas, Area_Kind kind);

} // namespace vistrel
