#include "detection/motion_detector.h"

#include <algorithm>
#include <utility>

namespace vistrel {

namespace {

// The watch areas' pixels; the whole frame when none was drawn.
std::vector<Pixel_Rect> Watched_Rects(const std::vector<Detection_Area>& areas, int32_t width,
                                      int32_t height) {
    std::vector<Pixel_Rect> rects;
    for (const Detection_Area& area : areas)
        if (area.kind == Area_Kind::Watch)
            rects.push_back(Pixels_Of(area, width, height));
    if (rects.empty())
        rects.push_back({0, 0, width, height});
    return rects;
}

std::vector<Pixel_Rect> Left_Out_Rects(const std::vector<Detection_Area>& areas, int32_t width,
                                       int32_t height) {
    std::vector<Pixel_Rect> rects;
    for (const Detection_Area& area : areas)
        if (area.kind != Area_Kind::Watch) {
            const Pixel_Rect rect = Pixels_Of(area, width, height);
            if (!rect.Empty())
                rects.push_back(rect);
        }
    return rects;
}

} // namespace

Area_Grid_Plan Plan_Areas(const std::vector<Detection_Area>& areas, const Frame_View& frame) {
    Area_Grid_Plan plan;
    plan.width = frame.width;
    plan.height = frame.height;
    plan.stride = frame.stride;
    plan.bytes_per_pixel = frame.bytes_per_pixel;
    if (frame.Empty())
        return plan;
    const std::vector<Pixel_Rect> left_out = Left_Out_Rects(areas, frame.width, frame.height);
    for (const Pixel_Rect& watched : Watched_Rects(areas, frame.width, frame.height)) {
        std::vector<std::ptrdiff_t>& offsets = plan.offsets.emplace_back();
        if (watched.Empty())
            continue;
        const Sampling_Grid grid = Grid_For(watched.Width(), watched.Height());
        offsets.reserve(static_cast<size_t>(grid.Samples()));
        for (int32_t x = watched.left + grid.x0; x < watched.right; x += grid.step)
            for (int32_t y = watched.top + grid.y0; y < watched.bottom; y += grid.step) {
                const bool out = std::any_of(left_out.begin(), left_out.end(),
                                             [&](const Pixel_Rect& r) { return r.Contains(x, y); });
                offsets.push_back(out ? -1 : frame.Pixel_At(x, y) - frame.data);
            }
    }
    return plan;
}

Area_Samples Sample_Areas(const Area_Grid_Plan& plan, const Frame_View& frame) {
    Area_Samples samples;
    if (frame.Empty())
        return samples;
    samples.width = frame.width;
    samples.height = frame.height;
    samples.series.reserve(plan.offsets.size());
    const int r = frame.red, g = frame.green, b = frame.blue;
    for (const std::vector<std::ptrdiff_t>& offsets : plan.offsets) {
        std::vector<int16_t>& series = samples.series.emplace_back(offsets.size());
        for (size_t i = 0; i < offsets.size(); ++i) {
            if (offsets[i] < 0) {
                series[i] = kLeft_Out;
                continue;
            }
            const uint8_t* p = frame.data + offsets[i];
            series[i] = static_cast<int16_t>(Luma(p[r], p[g], p[b]));
        }
    }
    return samples;
}

std::vector<double> Area_Levels(const Area_Samples& current, const Area_Samples& previous,
                                bool ignore_light, bool reduce_for_darkness) {
    std::vector<double> levels(current.series.size(), 0.0);
    if (current.series.size() != previous.series.size())
        return levels;
    for (size_t a = 0; a < current.series.size(); ++a) {
        const std::vector<int16_t>& c = current.series[a];
        const std::vector<int16_t>& p = previous.series[a];
        // Series of different lengths give no measure, as whole frames do.
        if (c.size() != p.size())
            continue;
        Correlation_Sums sums;
        for (size_t i = 0; i < c.size(); ++i) {
            const int32_t cv = c[i];
            const int32_t pv = p[i];
            if (cv < 0 || pv < 0)
                continue;
            if (ignore_light && (Near_Clipping(cv) || Near_Clipping(pv)))
                continue;
            sums.Add(pv, cv);
        }
        levels[a] = Motion_Level(sums, reduce_for_darkness);
    }
    return levels;
}

void Motion_Detector::Configure(std::vector<Detection_Area> areas, bool ignore_light) {
    areas_ = std::move(areas);
    ignore_light_ = ignore_light;
    watch_count_ = static_cast<size_t>(
        std::count_if(areas_.begin(), areas_.end(),
                      [](const Detection_Area& a) { return a.kind == Area_Kind::Watch; }));
    plan_ = {};
    Forget();
}

void Motion_Detector::Forget() noexcept {
    plain_new_ = {};
    plain_old_ = {};
    areas_new_ = {};
    areas_old_ = {};
}

Motion_Reading Motion_Detector::Measure(const Frame_View& frame,
                                        bool reduce_for_darkness) noexcept {
    Motion_Reading reading;
    try {
        if (Plain()) {
            // The plain measure keeps only the previous frame's samples, not
            // the frame: holding it would keep a third camera frame alive
            // during the grab.
            plain_old_ = std::exchange(plain_new_, Sample_Luma(frame));
            reading.level = Calc_Coef_Correl(plain_new_, plain_old_, reduce_for_darkness);
            return reading;
        }
        if (!frame.Empty() &&
            (plan_.width != frame.width || plan_.height != frame.height ||
             plan_.stride != frame.stride || plan_.bytes_per_pixel != frame.bytes_per_pixel))
            plan_ = Plan_Areas(areas_, frame);
        areas_old_ = std::exchange(areas_new_, Sample_Areas(plan_, frame));
        const std::vector<double> levels =
            Area_Levels(areas_new_, areas_old_, ignore_light_, reduce_for_darkness);
        if (!levels.empty())
            reading.level = *std::max_element(levels.begin(), levels.end());
        if (watch_count_ > 0 && levels.size() == watch_count_)
            reading.watch_levels = levels;
        else if (watch_count_ > 0)
            reading.watch_levels.assign(watch_count_, 0.0);
    } catch (...) {
        Forget();
        return Motion_Reading{};
    }
    return reading;
}

} // namespace vistrel
