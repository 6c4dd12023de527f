// The camera on Linux: a GStreamer pipeline that keeps running and holds only
// its newest frame, reopened by a thread of its own when the camera goes away.
#pragma once

#include "capture/camera_choice.h"
#include "capture/frame_source.h"
#include "capture/gst_handles.h"
#include "capture/gst_sample_converter.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {

class Gst_Frame_Source : public Frame_Source {
public:
    static constexpr std::chrono::milliseconds kDefault_Reopen_Delay{3000};

    // The VISTREL_CAMERA environment variable when set, otherwise empty: the
    // first video source GStreamer's device monitor finds.
    static std::string Default_Description();

    // The cameras GStreamer finds now, each with a description that opens it.
    static std::vector<Camera_Option> List_Cameras();

    // `description` is a GStreamer source description ("v4l2src
    // device=/dev/video1", "rtspsrc location=... ! decodebin"); the source's
    // own sink is appended to it. Empty means the first camera found.
    explicit Gst_Frame_Source(std::string description = Default_Description(),
                              std::chrono::milliseconds reopen_delay = kDefault_Reopen_Delay);
    ~Gst_Frame_Source() override;
    Gst_Frame_Source(const Gst_Frame_Source&) = delete;
    Gst_Frame_Source& operator=(const Gst_Frame_Source&) = delete;

    void Open_Capture() noexcept override;
    QImage Grab_Frame() override;
    void Take_Back(QImage frame) noexcept override { converter_.Take_Back(std::move(frame)); }
    void Close_Capture() noexcept override;

private:
    void Run_Pipelines();
    bool Publish(GstElement* sink, GstBus* bus);
    void Withdraw();
    bool Wait_Before_Reopening();

    const std::string description_;
    const std::chrono::milliseconds reopen_delay_;

    // Shared between the caller's thread and the pipeline thread; held only
    // to copy or swap these, never across a GStreamer call that can wait.
    std::mutex mutex_;
    std::condition_variable stop_requested_;
    bool stopping_ = false;
    gst::Element_Ptr sink_;   // null while no pipeline runs
    gst::Bus_Ptr bus_;        // the running pipeline's, to wake its thread
    uint64_t generation_ = 0; // counts the pipelines opened

    std::thread pipelines_;

    // The caller's thread only.
    Gst_Sample_Converter converter_;
    gst::Sample_Ptr last_sample_; // the newest frame, as the camera sent it
    uint64_t last_frame_generation_ = 0;
};

} // namespace vistrel
