// The motion level of each tick, as the areas and the light rule ask. With no
// area and the light rule off it is the plain measure of the whole frame, to
// the bit. Otherwise every watch area is sampled on a grid of its own (the
// plain measure's grid rules on the area's width and height, from its
// top-left pixel), samples inside ignore or hide areas are left out of both
// frames, and the level is the highest of the watch areas' levels.
#pragma once

#include "capture/frame_view.h"
#include "capture/motion_measure.h"
#include "detection/detection_area.h"

#include <cstdint>
#include <vector>

namespace vistrel {

struct Motion_Reading {
    // Shown, put on the gauge and compared with the threshold.
    double level = 0.0;
    // One per watch area, in the order the areas were given; empty when no
    // watch area was drawn.
    std::vector<double> watch_levels;
};

// A luma sample left out of the measure: inside an ignore or hide area.
inline constexpr int16_t kLeft_Out = -1;

// Luma 3 or less, or 252 or more: a sample that clipped or was near it.
inline bool Near_Clipping(int32_t luma) {
    return luma <= 3 || luma >= 252;
}

// Where the samples of each watch area are read on a frame of one size and
// layout, in series order (down each column first).
struct Area_Grid_Plan {
    int32_t width = 0;
    int32_t height = 0;
    std::ptrdiff_t stride = 0;
    int bytes_per_pixel = 0;
    // Per watch area: byte offsets of its sample pixels, or -1 for a grid
    // point left out.
    std::vector<std::vector<std::ptrdiff_t>> offsets;
};

// The plan for `areas` on a frame laid out as `frame`. With no watch area the
// whole frame is the one watch area, on the plain measure's grid.
Area_Grid_Plan Plan_Areas(const std::vector<Detection_Area>& areas, const Frame_View& frame);

// The luma series of one frame: one per watch area, kLeft_Out where a grid
// point is left out.
struct Area_Samples {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<std::vector<int16_t>> series;
};

Area_Samples Sample_Areas(const Area_Grid_Plan& plan, const Frame_View& frame);

// The level of each series pair, paired by position; a pair where either
// sample is left out (or near clipping, with `ignore_light`) does not count.
std::vector<double> Area_Levels(const Area_Samples& current, const Area_Samples& previous,
                                bool ignore_light, bool reduce_for_darkness);

// Keeps what it needs of the previous frame from one tick to the next.
class Motion_Detector {
public:
    // Takes effect at the next Measure. The previous frame's samples were
    // taken for other areas and are dropped, so that one reads 0.
    void Configure(std::vector<Detection_Area> areas, bool ignore_light);

    // Samples `frame` and measures it against the frame of the previous call.
    // Never throws: a failure reads 0, as in the plain measure.
    Motion_Reading Measure(const Frame_View& frame, bool reduce_for_darkness) noexcept;

    // The next Measure has no previous frame.
    void Forget() noexcept;

private:
    bool Plain() const { return areas_.empty() && !ignore_light_; }

    std::vector<Detection_Area> areas_;
    bool ignore_light_ = false;
    size_t watch_count_ = 0;
    Area_Grid_Plan plan_;
    Luma_Samples plain_new_, plain_old_;
    Area_Samples areas_new_, areas_old_;
};

} // namespace vistrel
