// The camera's MJPEG samples as the frame source turns them into frames.
#include "capture/gst_sample_converter.h"
#include "recording/snapshot.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace vistrel {
namespace {

gst::Sample_Ptr Jpeg_Sample(const std::string& bytes) {
    gst_init(nullptr, nullptr);
    const gst::Buffer_Ptr buffer(gst_buffer_new_memdup(bytes.data(), bytes.size()));
    const gst::Caps_Ptr caps(gst_caps_from_string("image/jpeg"));
    return gst::Sample_Ptr(gst_sample_new(buffer.get(), caps.get(), nullptr, nullptr));
}

QImage Stripes() {
    QImage picture(160, 120, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 7) % 256, (y * 13) % 256, ((x + y) * 5) % 256));
    return picture;
}

// A frame cut short, even one closed by an end marker, fails the grab rather
// than giving a picture filled in below the cut; the frames after it come as
// before, in the memory handed back.
TEST(Gst_Sample_Converter, A_Frame_Cut_Short_Is_No_Frame) {
    const std::string whole = Encode_Jpeg(Stripes());
    const std::string cut = whole.substr(0, whole.size() * 2 / 3) + "\xff\xd9";
    Gst_Sample_Converter converter;
    const QImage expected = converter.Convert(Jpeg_Sample(whole).get()).copy();
    ASSERT_FALSE(expected.isNull());

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_THROW(converter.Convert(Jpeg_Sample(cut).get()), std::runtime_error);
        QImage frame = converter.Convert(Jpeg_Sample(whole).get());
        EXPECT_EQ(frame, expected);
        converter.Take_Back(std::move(frame));
    }
}

} // namespace
} // namespace vistrel
