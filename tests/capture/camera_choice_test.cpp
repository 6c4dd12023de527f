#include "capture/camera_choice.h"
#include "capture/camera_switch.h"

#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TEST(NetworkCamera, OnlyStreamingAddressesAreTakenAndTheyAreQuoted) {
    EXPECT_EQ(Network_Camera_Description("rtsp://cam.local:554/stream"),
              "uridecodebin uri=\"rtsp://cam.local:554/stream\"");
    EXPECT_EQ(Network_Camera_Description("http://10.1.2.3/video.mjpg"),
              "uridecodebin uri=\"http://10.1.2.3/video.mjpg\"");
    EXPECT_EQ(Network_Camera_Description("rtsp://x\" ! filesink location=/tmp/evil"),
              "uridecodebin uri=\"rtsp://x\\\" ! filesink location=/tmp/evil\"");
    for (const char* refused : {"", "file:///etc/passwd", "v4l2src", "RTSP://upper",
                                "rtsp://x\n ! filesink location=/tmp/evil"})
        EXPECT_EQ(Network_Camera_Description(refused), std::nullopt) << refused;
}

TEST(CameraChoice, IsKeptInTheDataFolder) {
    test::Temp_Dir dir;
    EXPECT_EQ(Load_Camera_Choice(dir.Folder()), "");
    Save_Camera_Choice(dir.Folder(), "v4l2src device=\"/dev/video1\"");
    EXPECT_EQ(Load_Camera_Choice(dir.Folder()), "v4l2src device=\"/dev/video1\"");
    EXPECT_EQ(test::Entries(dir.Path()), std::vector<std::string>{"camera.ini"});
}

struct Counts {
    int opened = 0;
    int closed = 0;
};

// Reports what happens to it to counts that outlive it.
class Counting_Camera : public test::Fake_Camera {
public:
    explicit Counting_Camera(Counts& counts, int width) : counts_(counts) {
        frames.push_back(QImage(width, width, QImage::Format_RGB32));
    }
    void Open_Capture() noexcept override { ++counts_.opened; }
    void Close_Capture() noexcept override { ++counts_.closed; }

private:
    Counts& counts_;
};

TEST(CameraSwitch, ReleasesTheOldCameraAndOpensTheNewOneOnlyWhileOpen) {
    Counts first, second, third;
    Camera_Switch cameras(std::make_unique<Counting_Camera>(first, 2));
    cameras.Open_Capture();
    EXPECT_EQ(first.opened, 1);
    EXPECT_EQ(cameras.Grab_Frame().width(), 2);

    cameras.Switch_To(std::make_unique<Counting_Camera>(second, 3));
    EXPECT_EQ(first.closed, 1);
    EXPECT_EQ(second.opened, 1);
    EXPECT_EQ(cameras.Grab_Frame().width(), 3);

    cameras.Close_Capture();
    cameras.Switch_To(std::make_unique<Counting_Camera>(third, 4));
    EXPECT_EQ(second.closed, 2) << "closed by the switch and again when replaced";
    EXPECT_EQ(third.opened, 0) << "a closed capture stays closed";
}

} // namespace
} // namespace vistrel
