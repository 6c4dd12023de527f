// Owning pointers for the GStreamer objects the capture code holds, so no
// path (an exception, an early return) leaks a reference.
#pragma once

#include <gst/gst.h>
#include <gst/video/video-converter.h>

#include <memory>

namespace vistrel::gst {

struct Object_Unref {
    void operator()(void* object) const { gst_object_unref(object); }
};
struct Sample_Unref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
struct Caps_Unref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct Buffer_Unref {
    void operator()(GstBuffer* buffer) const { gst_buffer_unref(buffer); }
};
struct Message_Unref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct Converter_Free {
    void operator()(GstVideoConverter* converter) const { gst_video_converter_free(converter); }
};
struct Error_Free {
    void operator()(GError* error) const { g_error_free(error); }
};

using Element_Ptr = std::unique_ptr<GstElement, Object_Unref>;
using Bus_Ptr = std::unique_ptr<GstBus, Object_Unref>;
using Device_Monitor_Ptr = std::unique_ptr<GstDeviceMonitor, Object_Unref>;
using Sample_Ptr = std::unique_ptr<GstSample, Sample_Unref>;
using Caps_Ptr = std::unique_ptr<GstCaps, Caps_Unref>;
using Buffer_Ptr = std::unique_ptr<GstBuffer, Buffer_Unref>;
using Message_Ptr = std::unique_ptr<GstMessage, Message_Unref>;
using Converter_Ptr = std::unique_ptr<GstVideoConverter, Converter_Free>;
using Error_Ptr = std::unique_ptr<GError, Error_Free>;

// Most GStreamer constructors hand out a floating reference; sinking it makes
// the pointer a plain owner that a bin adds its own reference to.
inline Element_Ptr Adopt(GstElement* floating) {
    return Element_Ptr(floating ? GST_ELEMENT(gst_object_ref_sink(floating)) : nullptr);
}

// A second owner of an object someone else holds.
inline Element_Ptr Share(GstElement* element) {
    return Element_Ptr(element ? GST_ELEMENT(gst_object_ref(element)) : nullptr);
}

// Unmaps on every path out of the scope that mapped.
class Mapped_Buffer {
public:
    Mapped_Buffer(GstBuffer* buffer, GstMapFlags flags)
        : buffer_(buffer), mapped_(gst_buffer_map(buffer, &info_, flags) != FALSE) {}
    ~Mapped_Buffer() {
        if (mapped_)
            gst_buffer_unmap(buffer_, &info_);
    }
    Mapped_Buffer(const Mapped_Buffer&) = delete;
    Mapped_Buffer& operator=(const Mapped_Buffer&) = delete;

    bool Ok() const { return mapped_; }
    const guint8* Data() const { return info_.data; }
    gsize Size() const { return info_.size; }

private:
    GstBuffer* buffer_;
    GstMapInfo info_{};
    bool mapped_;
};

class Mapped_Video_Frame {
public:
    Mapped_Video_Frame(const GstVideoInfo& info, GstBuffer* buffer, GstMapFlags flags)
        : mapped_(gst_video_frame_map(&frame_, const_cast<GstVideoInfo*>(&info), buffer, flags) !=
                  FALSE) {}
    ~Mapped_Video_Frame() {
        if (mapped_)
            gst_video_frame_unmap(&frame_);
    }
    Mapped_Video_Frame(const Mapped_Video_Frame&) = delete;
    Mapped_Video_Frame& operator=(const Mapped_Video_Frame&) = delete;

    bool Ok() const { return mapped_; }
    GstVideoFrame* Get() { return &frame_; }

private:
    GstVideoFrame frame_{};
    bool mapped_;
};

} // namespace vistrel::gst
