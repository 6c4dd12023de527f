// A motion recording armed on a still 1280 x 720 scene, whose camera can be
// told to move, on a clock that only moves between ticks: the pictures from
// before the motion are all written in the tick that starts the episode, as
// on a disk fast enough for them.
#pragma once

#include "tick_fixtures.h"

#include "detection/detection_settings.h"
#include "upload/upload_list.h"

#include <cstring>
#include <utility>
#include <vector>

namespace vistrel::bench {

class Manual_Clock : public Clock {
public:
    uint32_t Tick_Count() override { return ticks_; }
    Local_Date_Time Now() override { return {2026, 12, 8, 14, 5, 9}; }
    void Advance(uint32_t ms) { ticks_ += ms; }

private:
    uint32_t ticks_ = 1000;
};

// Makes each frame in the memory of the one given back when nothing else
// holds it any more, as the real camera's conversion does; otherwise in new
// memory.
class Still_Camera : public Frame_Source {
public:
    void Open_Capture() noexcept override {}
    QImage Grab_Frame() override {
        const QImage& from = moving_ ? b_ : a_;
        QImage frame = std::exchange(spare_, QImage());
        if (!frame.isDetached() || frame.size() != from.size() || frame.format() != from.format())
            return from.copy();
        std::memcpy(frame.bits(), from.constBits(), static_cast<size_t>(from.sizeInBytes()));
        return frame;
    }
    void Take_Back(QImage frame) noexcept override { spare_ = std::move(frame); }
    void Close_Capture() noexcept override {}
    void Move(bool moving) { moving_ = moving; }

private:
    QImage a_ = Scene(1280, 720, 0);
    QImage b_ = Scene(1280, 720, 40);
    QImage spare_;
    bool moving_ = false;
};

struct Armed_Tick {
    Folder folder;
    Null_View view;
    Still_Camera camera;
    Manual_Clock clock;
    Upload_List files;
    Recording_Controller tick{view, camera, clock, files, nullptr};
    int pre_capture = 0;

    explicit Armed_Tick(int pictures_before, const std::vector<Detection_Area>& areas = {})
        : pre_capture(pictures_before) {
        view.settings.Dest_Folder = folder.Path();
        view.settings.Max_Files = 200;
        view.settings.Threshold = 5;
        view.settings.Sampling_ms = 200;
        view.settings.Delay_Start_ms = 1000;
        view.settings.Delay_Stop_ms = 1000;
        tick.Set_Stamp_Dpi(96);
        Detection_Settings detection;
        detection.pre_capture = pre_capture;
        detection.areas = areas;
        tick.Set_Detection(detection);
    }

    void Run() {
        clock.Advance(200);
        tick.TMR_Refresh_IMGTimer();
    }

    // Armed on the still scene, past the grace delay, the ring full.
    void Arm_And_Wait() {
        camera.Move(false);
        tick.BTN_Start_Stop_Rec_DetectClick();
        Run(); // still inside the delay: whatever the last frame was, no episode
        clock.Advance(static_cast<uint32_t>(view.settings.Delay_Start_ms));
        for (int i = 0; i <= pre_capture; ++i)
            Run();
    }

    // The tick that sees the motion; the next one opens the episode.
    bool See_Motion() {
        camera.Move(true);
        Run();
        return tick.State().Rec_Motion;
    }
};

} // namespace vistrel::bench
