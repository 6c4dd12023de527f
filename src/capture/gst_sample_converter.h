// Turns one sample pulled from the camera's appsink into the Format_RGB32
// frame the program reads. The pipeline hands over the camera's own format so
// that only the frames a tick takes pay for a conversion.
#pragma once

#include "capture/gst_handles.h"

#include <QImage>
#include <gst/video/video.h>
#include <utility>

namespace vistrel {

class Gst_Sample_Converter {
public:
    // Raw video of any format GStreamer's converter reads, or image/jpeg.
    // Throws std::runtime_error for a sample it cannot turn into a frame.
    QImage Convert(GstSample* sample);

    // A frame the caller is done with: the next one is made in its memory
    // when nobody else holds it then.
    void Take_Back(QImage frame) noexcept { spare_ = std::move(frame); }

private:
    QImage Convert_Raw(GstCaps* caps, GstBuffer* buffer);
    GstVideoConverter* Converter_For(const GstVideoInfo& in, const GstVideoInfo& out);

    // Building a converter costs far more than one frame; a camera keeps its
    // format, so the last one is kept until the format changes.
    gst::Converter_Ptr converter_;
    GstVideoInfo converter_input_{};
    QImage spare_;
};

} // namespace vistrel
