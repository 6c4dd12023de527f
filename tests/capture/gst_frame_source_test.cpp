#include "capture/gst_frame_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Deadlines only bound a wait for something that must happen; nothing here
// depends on how fast the machine is.
constexpr auto kPatience = 5s;
constexpr auto kShort_Reopen = 100ms;

std::optional<QImage> Try_Grab(Gst_Frame_Source& source) {
    try {
        return source.Grab_Frame();
    } catch (const Capture_Error&) {
        return std::nullopt;
    }
}

// The first frame that satisfies `wanted` within the patience, or a null image.
template <typename Wanted> QImage Wait_For_Frame(Gst_Frame_Source& source, Wanted wanted) {
    for (const auto deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
        if (auto frame = Try_Grab(source); frame && wanted(*frame))
            return *frame;
        std::this_thread::sleep_for(10ms);
    }
    return {};
}

QImage Wait_For_Frame(Gst_Frame_Source& source) {
    return Wait_For_Frame(source, [](const QImage&) { return true; });
}

bool Wait_For_Failure(Gst_Frame_Source& source) {
    for (const auto deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
        if (!Try_Grab(source))
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Grabs for a while, across several reopen attempts; true when none gave a frame.
bool Never_Gives_A_Frame(Gst_Frame_Source& source) {
    for (const auto until = Clock::now() + 5 * kShort_Reopen; Clock::now() < until;) {
        if (Try_Grab(source))
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string Solid(QRgb colour, const char* format, int width, int height) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "videotestsrc is-live=true pattern=solid-color foreground-color=0x%08x"
                  " ! video/x-raw,format=%s,width=%d,height=%d",
                  colour | 0xff000000u, format, width, height);
    return text;
}

struct Size_Case {
    int width;
    int height;
};

void PrintTo(const Size_Case& c, std::ostream* os) {
    *os << c.width << "x" << c.height;
}

class Gst_Frame_Source_Size : public testing::TestWithParam<Size_Case> {};

TEST_P(Gst_Frame_Source_Size, Frames_Have_The_Size_Of_The_Stream) {
    const auto [width, height] = GetParam();
    Gst_Frame_Source source("videotestsrc is-live=true ! video/x-raw,width=" +
                            std::to_string(width) + ",height=" + std::to_string(height));
    source.Open_Capture();
    const QImage frame = Wait_For_Frame(source);
    EXPECT_EQ(frame.size(), QSize(width, height));
    EXPECT_EQ(frame.format(), QImage::Format_RGB32);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Gst_Frame_Source_Size,
                         testing::Values(Size_Case{320, 240}, Size_Case{1280, 720},
                                         Size_Case{321, 241}));

struct Colour_Case {
    const char* name;
    std::string description;
    QRgb colour;
    int tolerance; // what the round trip through YUV or JPEG may change
};

void PrintTo(const Colour_Case& c, std::ostream* os) {
    *os << '"' << c.description << '"';
}

class Gst_Frame_Source_Colour : public testing::TestWithParam<Colour_Case> {};

// Every pixel is checked: a wrong stride or plane offset shows at the edges.
TEST_P(Gst_Frame_Source_Colour, Every_Pixel_Has_The_Colour_Sent) {
    const Colour_Case& c = GetParam();
    Gst_Frame_Source source(c.description);
    source.Open_Capture();
    const QImage frame = Wait_For_Frame(source);
    ASSERT_FALSE(frame.isNull());
    ASSERT_EQ(frame.format(), QImage::Format_RGB32);
    int wrong = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const QRgb p = frame.pixel(x, y);
            if (qAlpha(p) != 255 || std::abs(qRed(p) - qRed(c.colour)) > c.tolerance ||
                std::abs(qGreen(p) - qGreen(c.colour)) > c.tolerance ||
                std::abs(qBlue(p) - qBlue(c.colour)) > c.tolerance) {
                if (wrong++ == 0)
                    ADD_FAILURE() << "first wrong pixel at " << x << "," << y << ": " << std::hex
                                  << p << " instead of " << c.colour;
            }
        }
    EXPECT_EQ(wrong, 0);
}

// YUY2 is sampled in pairs, so its width stays even: the test source itself
// paints the last column of an odd width wrongly, and so does its JPEG
// encoder (odd JPEG sizes are the decoder test's). A camera's JPEG is full
// range, which the test source only gives from RGB. Its GRAY8 is video-range
// luma, read back as full range: a few levels brighter.
const QRgb kOrange = qRgb(200, 60, 30);
const QRgb kTeal = qRgb(30, 130, 160);

INSTANTIATE_TEST_SUITE_P(
    Formats, Gst_Frame_Source_Colour,
    testing::Values(
        Colour_Case{"I420", Solid(kOrange, "I420", 161, 121), kOrange, 4},
        Colour_Case{"NV12", Solid(kTeal, "NV12", 160, 120), kTeal, 4},
        Colour_Case{"YUY2", Solid(kOrange, "YUY2", 160, 121), kOrange, 4},
        Colour_Case{"I420_White", Solid(qRgb(255, 255, 255), "I420", 64, 48), qRgb(255, 255, 255),
                    2},
        Colour_Case{"I420_Black", Solid(qRgb(0, 0, 0), "I420", 64, 48), qRgb(0, 0, 0), 2},
        Colour_Case{"RGB", Solid(kTeal, "RGB", 161, 121), kTeal, 0},
        Colour_Case{"BGRx", Solid(kOrange, "BGRx", 160, 120), kOrange, 0},
        Colour_Case{"GRAY8", Solid(qRgb(90, 90, 90), "GRAY8", 161, 121), qRgb(90, 90, 90), 4},
        Colour_Case{"Mjpeg", Solid(kOrange, "RGB", 160, 120) + " ! jpegenc", kOrange, 8},
        Colour_Case{"Mjpeg_Partial_Blocks", Solid(kTeal, "RGB", 168, 126) + " ! jpegenc", kTeal,
                    8}),
    [](const testing::TestParamInfo<Colour_Case>& info) { return std::string(info.param.name); });

TEST(Gst_Frame_Source, Without_A_New_Frame_The_Previous_One_Comes_Again) {
    // One frame at once, the next one a thousand seconds later.
    Gst_Frame_Source source("videotestsrc is-live=true pattern=ball ! "
                            "video/x-raw,width=160,height=120,framerate=1/1000");
    source.Open_Capture();
    const QImage first = Wait_For_Frame(source);
    ASSERT_FALSE(first.isNull());
    QImage again = source.Grab_Frame();
    EXPECT_EQ(again, first);
    // Each frame handed out has no other owner, so stamping it never has to
    // copy it first, nor changes the frame the source would hand out again.
    EXPECT_TRUE(again.isDetached());
    again.fill(Qt::white);
    EXPECT_EQ(source.Grab_Frame(), first);
}

TEST(Gst_Frame_Source, A_Streaming_Camera_Gives_New_Frames) {
    Gst_Frame_Source source("videotestsrc is-live=true pattern=ball ! "
                            "video/x-raw,width=160,height=120,framerate=30/1");
    source.Open_Capture();
    const QImage first = Wait_For_Frame(source);
    ASSERT_FALSE(first.isNull());
    const QImage later = Wait_For_Frame(source, [&](const QImage& f) { return f != first; });
    EXPECT_FALSE(later.isNull()) << "the moving ball never moved";
}

TEST(Gst_Frame_Source, Grab_Before_Any_Frame_Fails) {
    Gst_Frame_Source unopened("videotestsrc is-live=true");
    EXPECT_THROW(unopened.Grab_Frame(), Capture_Error);

    // Running, with caps agreed, but every buffer dropped on the way.
    Gst_Frame_Source silent("videotestsrc is-live=true ! identity drop-probability=1.0",
                            kShort_Reopen);
    silent.Open_Capture();
    EXPECT_TRUE(Never_Gives_A_Frame(silent));
}

TEST(Gst_Frame_Source, A_Stream_That_Ends_Fails_Then_Comes_Back) {
    Gst_Frame_Source source("videotestsrc is-live=true num-buffers=10 ! "
                            "video/x-raw,width=160,height=120,framerate=30/1",
                            kShort_Reopen);
    source.Open_Capture();
    const QImage before = Wait_For_Frame(source);
    ASSERT_FALSE(before.isNull());
    ASSERT_TRUE(Wait_For_Failure(source)) << "the end of the stream went unnoticed";
    const QImage after = Wait_For_Frame(source);
    ASSERT_FALSE(after.isNull()) << "the source was not reopened";
    EXPECT_NE(after.cacheKey(), before.cacheKey());
}

TEST(Gst_Frame_Source, Closing_Stops_The_Frames_And_Opening_Again_Restarts_Them) {
    Gst_Frame_Source source("videotestsrc is-live=true ! video/x-raw,width=160,height=120");
    source.Open_Capture();
    ASSERT_FALSE(Wait_For_Frame(source).isNull());
    source.Close_Capture();
    EXPECT_THROW(source.Grab_Frame(), Capture_Error);
    source.Close_Capture();
    source.Open_Capture();
    EXPECT_FALSE(Wait_For_Frame(source).isNull());
}

class Gst_Frame_Source_Broken : public testing::TestWithParam<const char*> {};

// Each keeps failing across several reopen attempts; closing must still end it.
TEST_P(Gst_Frame_Source_Broken, Grabs_Fail_And_Close_Still_Returns) {
    Gst_Frame_Source source(GetParam(), kShort_Reopen);
    source.Open_Capture();
    EXPECT_TRUE(Never_Gives_A_Frame(source));
    source.Close_Capture();
    EXPECT_THROW(source.Grab_Frame(), Capture_Error);
}

INSTANTIATE_TEST_SUITE_P(Descriptions, Gst_Frame_Source_Broken,
                         testing::Values("no_such_element_anywhere", "videotestsrc ! !",
                                         "filesrc location=/nonexistent/camera ! jpegdec",
                                         "audiotestsrc is-live=true",
                                         "videotestsrc is-live=true ! appsink"));

TEST(Gst_Frame_Source, First_Camera_Or_Failing_Grabs_Without_One) {
    Gst_Frame_Source source("", kShort_Reopen);
    source.Open_Capture();
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    const bool have_camera = devices != nullptr;
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    if (have_camera)
        EXPECT_FALSE(Wait_For_Frame(source).isNull());
    else
        EXPECT_TRUE(Never_Gives_A_Frame(source));
}

struct Environment_Case {
    const char* value; // null: unset
    const char* expected;
};

class Gst_Frame_Source_Default : public testing::TestWithParam<Environment_Case> {};

TEST_P(Gst_Frame_Source_Default, Description_Comes_From_The_Environment) {
    const char* saved = std::getenv("VISTREL_CAMERA");
    const std::optional<std::string> restore =
        saved ? std::optional(std::string(saved)) : std::nullopt;
    if (GetParam().value)
        ::setenv("VISTREL_CAMERA", GetParam().value, 1);
    else
        ::unsetenv("VISTREL_CAMERA");
    EXPECT_EQ(Gst_Frame_Source::Default_Description(), GetParam().expected);
    if (restore)
        ::setenv("VISTREL_CAMERA", restore->c_str(), 1);
    else
        ::unsetenv("VISTREL_CAMERA");
}

INSTANTIATE_TEST_SUITE_P(Values, Gst_Frame_Source_Default,
                         testing::Values(Environment_Case{nullptr, ""}, Environment_Case{"", ""},
                                         Environment_Case{"v4l2src device=/dev/video1",
                                                          "v4l2src device=/dev/video1"}));

} // namespace
} // namespace vistrel

namespace vistrel {
namespace {

// A hostile address must stay the value of one property: the parsed pipeline
// holds only the decoder and the sink the test adds.
TEST(Network_Camera, An_Address_Cannot_Add_Elements) {
    gst_init(nullptr, nullptr);
    const auto description =
        Network_Camera_Description("rtsp://x\" ! filesink location=/tmp/vistrel-evil ! \"");
    ASSERT_TRUE(description.has_value());
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch((*description + " ! fakesink").c_str(), &error);
    ASSERT_NE(pipeline, nullptr);
    if (error != nullptr)
        g_error_free(error);
    EXPECT_EQ(GST_BIN_NUMCHILDREN(GST_BIN(pipeline)), 2);
    GstElement* decoder = gst_bin_get_by_name(GST_BIN(pipeline), "uridecodebin0");
    if (decoder == nullptr) {
        GstIterator* it = gst_bin_iterate_elements(GST_BIN(pipeline));
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            GstElement* e = GST_ELEMENT(g_value_get_object(&item));
            if (g_str_has_prefix(GST_OBJECT_NAME(e), "uridecodebin"))
                decoder = GST_ELEMENT(gst_object_ref(e));
            g_value_reset(&item);
        }
        gst_iterator_free(it);
    }
    ASSERT_NE(decoder, nullptr);
    gchar* uri = nullptr;
    g_object_get(decoder, "uri", &uri, nullptr);
    EXPECT_STREQ(uri, "rtsp://x\" ! filesink location=/tmp/vistrel-evil ! \"");
    g_free(uri);
    gst_object_unref(decoder);
    gst_object_unref(pipeline);
}

} // namespace
} // namespace vistrel
