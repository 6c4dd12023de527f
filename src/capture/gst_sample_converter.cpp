#include "capture/gst_sample_converter.h"

#include "capture/mjpeg_decoder.h"

#include <QtEndian>
#include <stdexcept>

namespace vistrel {

namespace {

// QImage's RGB32 is one 0xffRRGGBB word per pixel, whatever the byte order.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr GstVideoFormat kRgb32_Format = GST_VIDEO_FORMAT_BGRx;
#else
constexpr GstVideoFormat kRgb32_Format = GST_VIDEO_FORMAT_xRGB;
#endif

bool Is_Jpeg(GstCaps* caps) {
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    return s != nullptr && gst_structure_has_name(s, "image/jpeg");
}

} // namespace

QImage Gst_Sample_Converter::Convert(GstSample* sample) {
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (caps == nullptr || buffer == nullptr || gst_caps_is_empty(caps))
        throw std::runtime_error("camera sample without caps or data");
    if (!Is_Jpeg(caps))
        return Convert_Raw(caps, buffer);
    const gst::Mapped_Buffer bytes(buffer, GST_MAP_READ);
    if (!bytes.Ok())
        throw std::runtime_error("camera sample cannot be read");
    return Decode_Mjpeg(bytes.Data(), bytes.Size(), std::move(spare_));
}

QImage Gst_Sample_Converter::Convert_Raw(GstCaps* caps, GstBuffer* buffer) {
    GstVideoInfo in;
    if (!gst_video_info_from_caps(&in, caps))
        throw std::runtime_error("camera sample of an unknown video format");
    const int width = GST_VIDEO_INFO_WIDTH(&in);
    const int height = GST_VIDEO_INFO_HEIGHT(&in);

    QImage image = Frame_Memory(std::move(spare_), width, height);
    if (image.isNull())
        throw std::runtime_error("no memory for the camera frame");
    GstVideoInfo out;
    // The converter neither deinterlaces nor changes the frame rate, and
    // insists that both sides agree on them.
    gst_video_info_set_interlaced_format(&out, kRgb32_Format, GST_VIDEO_INFO_INTERLACE_MODE(&in),
                                         static_cast<guint>(width), static_cast<guint>(height));
    GST_VIDEO_INFO_FPS_N(&out) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(&out) = GST_VIDEO_INFO_FPS_D(&in);
    GST_VIDEO_INFO_PLANE_STRIDE(&out, 0) = static_cast<gint>(image.bytesPerLine());
    GST_VIDEO_INFO_SIZE(&out) = static_cast<gsize>(image.sizeInBytes());

    // The converter writes straight into the image's pixels: no copy after.
    const gst::Buffer_Ptr target(
        gst_buffer_new_wrapped_full(GstMemoryFlags(0), image.bits(), GST_VIDEO_INFO_SIZE(&out), 0,
                                    GST_VIDEO_INFO_SIZE(&out), nullptr, nullptr));
    gst::Mapped_Video_Frame from(in, buffer, GST_MAP_READ);
    gst::Mapped_Video_Frame to(out, target.get(), GST_MAP_WRITE);
    if (!from.Ok() || !to.Ok())
        throw std::runtime_error("camera frame cannot be mapped");
    gst_video_converter_frame(Converter_For(in, out), from.Get(), to.Get());
    return image;
}

GstVideoConverter* Gst_Sample_Converter::Converter_For(const GstVideoInfo& in,
                                                       const GstVideoInfo& out) {
    if (converter_ && gst_video_info_is_equal(&in, &converter_input_))
        return converter_.get();
    converter_.reset();
    // Dithering only hides banding when reducing depth, and RGB32 keeps the
    // cameras' 8 bits. Repeating chroma samples instead of interpolating them
    // makes YUY2 and NV12 as cheap as I420 (a third of the time) and is what
    // the I420 fast path does anyway; neither shows in a 640 x 480 snapshot.
    GstStructure* config = gst_structure_new(
        "vistrel-converter", GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD,
        GST_VIDEO_DITHER_NONE, GST_VIDEO_CONVERTER_OPT_CHROMA_MODE, GST_TYPE_VIDEO_CHROMA_MODE,
        GST_VIDEO_CHROMA_MODE_NONE, nullptr);
    converter_.reset(gst_video_converter_new(const_cast<GstVideoInfo*>(&in),
                                             const_cast<GstVideoInfo*>(&out), config));
    if (!converter_)
        throw std::runtime_error("no converter from the camera's video format");
    converter_input_ = in;
    return converter_.get();
}

} // namespace vistrel
