// The camera the tick reads from, exchangeable while the program runs (the
// user may pick another one), behind the one Frame_Source the tick holds.
#pragma once

#include "capture/frame_source.h"

#include <memory>
#include <utility>

namespace vistrel {

class Camera_Switch : public Frame_Source {
public:
    explicit Camera_Switch(std::unique_ptr<Frame_Source> camera) : camera_(std::move(camera)) {}

    void Open_Capture() noexcept override {
        open_ = true;
        camera_->Open_Capture();
    }
    QImage Grab_Frame() override { return camera_->Grab_Frame(); }
    void Take_Back(QImage frame) noexcept override { camera_->Take_Back(std::move(frame)); }
    void Close_Capture() noexcept override {
        open_ = false;
        camera_->Close_Capture();
    }

    // Releases the current camera and, when the capture is open, starts the
    // new one in its place.
    void Switch_To(std::unique_ptr<Frame_Source> camera) {
        camera_->Close_Capture();
        camera_ = std::move(camera);
        if (open_)
            camera_->Open_Capture();
    }

private:
    std::unique_ptr<Frame_Source> camera_;
    bool open_ = false;
};

} // namespace vistrel
