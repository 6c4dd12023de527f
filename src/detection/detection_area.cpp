#include "detection/detection_area.h"

#include <algorithm>

namespace vistrel {

std::string Kind_Name(Area_Kind kind) {
    switch (kind) {
    case Area_Kind::Watch:
        return "watch";
    case Area_Kind::Ignore:
        return "ignore";
    case Area_Kind::Hide:
        return "hide";
    }
    return "watch";
}

std::optional<Area_Kind> Parse_Kind(const std::string& name) {
    for (const Area_Kind kind : {Area_Kind::Watch, Area_Kind::Ignore, Area_Kind::Hide})
        if (name == Kind_Name(kind))
            return kind;
    return std::nullopt;
}

bool Fits_Frame(const Detection_Area& a) {
    return a.x >= 0 && a.y >= 0 && a.w >= 1 && a.h >= 1 && a.x <= kArea_Scale - a.w &&
           a.y <= kArea_Scale - a.h;
}

namespace {

// floor(part * size / 10000) in 64 bits: 10000 times a frame size overflows 32.
int32_t Scaled(int32_t part, int32_t size) {
    return static_cast<int32_t>(int64_t{part} * size / kArea_Scale);
}

} // namespace

Pixel_Rect Pixels_Of(const Detection_Area& area, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || !Fits_Frame(area))
        return {};
    return {Scaled(area.x, width), Scaled(area.y, height), Scaled(area.x + area.w, width),
            Scaled(area.y + area.h, height)};
}

bool Has_Kind(const std::vector<Detection_Area>& areas, Area_Kind kind) {
    return std::any_of(areas.begin(), areas.end(),
                       [kind](const Detection_Area& a) { return a.kind == kind; });
}

} // namespace vistrel
