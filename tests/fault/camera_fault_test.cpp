// A network camera that goes away and comes back while Vistrel records: the
// frames come as MJPEG over loopback TCP from a GStreamer process of their
// own, which is killed and started again on the same port. Meanwhile the
// ticks fail quietly, and afterwards recording resumes with nobody touching
// the camera.
#include "capture/gst_frame_source.h"
#include "recording/recording_controller.h"
#include "recording/snapshot.h"

#include "support/fake_ftp_server.h"
#include "support/jpeg_reader.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// Deadlines only bound a wait for something that must happen.
constexpr auto kPatience = 10s;
// The program waits 3 s between attempts to reopen its camera.
constexpr auto kReopen_Delay = 300ms;
constexpr auto kTick_Period = 50ms;

bool Accepts_Connections(uint16_t port) {
    const test::Unique_Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// A moving test picture as MJPEG on a loopback port, the way many network
// and USB cameras deliver theirs.
class Mjpeg_Stream {
public:
    explicit Mjpeg_Stream(uint16_t port) : port_(port) { Start(); }
    ~Mjpeg_Stream() { Kill(); }
    Mjpeg_Stream(const Mjpeg_Stream&) = delete;
    Mjpeg_Stream& operator=(const Mjpeg_Stream&) = delete;

    // Starts serving, and returns once the port takes connections.
    void Start() {
        const std::string port = "port=" + std::to_string(port_);
        const char* argv[] = {"gst-launch-1.0",
                              "-q",
                              "videotestsrc",
                              "pattern=ball",
                              "is-live=true",
                              "!",
                              "video/x-raw,width=320,height=240,framerate=15/1",
                              "!",
                              "jpegenc",
                              "!",
                              "multipartmux",
                              "!",
                              "tcpserversink",
                              "host=127.0.0.1",
                              port.c_str(),
                              "sync=false",
                              nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int spawned = ::posix_spawnp(&pid_, argv[0], &actions, nullptr,
                                           const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            throw std::runtime_error("cannot start gst-launch-1.0");
        for (const auto deadline = Steady::now() + kPatience; !Accepts_Connections(port_);) {
            if (Steady::now() > deadline || ::waitpid(pid_, nullptr, WNOHANG) != 0) {
                Kill();
                throw std::runtime_error("the MJPEG stream did not start");
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    // Ends the process at once, as a camera losing its power would.
    void Kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    const uint16_t port_;
    pid_t pid_ = -1;
};

// The camera as the tick sees it, counting what its grabs gave.
class Counted_Camera : public Frame_Source {
public:
    explicit Counted_Camera(Frame_Source& camera) : camera_(camera) {}

    int grabbed = 0;
    int failed = 0;

    void Open_Capture() noexcept override { camera_.Open_Capture(); }
    QImage Grab_Frame() override {
        try {
            QImage frame = camera_.Grab_Frame();
            ++grabbed;
            return frame;
        } catch (const Capture_Error&) {
            ++failed;
            throw;
        }
    }
    void Close_Capture() noexcept override { camera_.Close_Capture(); }

private:
    Frame_Source& camera_;
};

TEST(Camera_Fault, Recording_Resumes_By_Itself_When_The_Stream_Comes_Back) {
    const uint16_t port = test::Unused_Port();
    Mjpeg_Stream stream(port);
    Gst_Frame_Source source("tcpclientsrc host=127.0.0.1 port=" + std::to_string(port) +
                                " ! multipartdemux ! image/jpeg,width=320,height=240",
                            kReopen_Delay);
    Counted_Camera camera(source);
    const test::Temp_Dir dir;
    test::Fake_View view;
    test::Fake_Clock clock;
    Upload_List files;
    Recording_Controller tick(view, camera, clock, files, nullptr);
    view.settings.Sampling_ms = 50;
    view.settings.Threshold = 5;
    view.settings.Dest_Folder = dir.Folder();
    view.settings.Max_Files = 30000;
    view.jpeg_size_index = 1;
    tick.Set_Stamp_Dpi(96);
    camera.Open_Capture();
    tick.BTN_Start_Stop_RecClick();

    const auto one_tick = [&] {
        clock.ticks += 50;
        tick.TMR_Refresh_IMGTimer();
        std::this_thread::sleep_for(kTick_Period);
    };
    const auto tick_until = [&](auto done) {
        for (const auto deadline = Steady::now() + kPatience; Steady::now() < deadline;) {
            one_tick();
            if (done())
                return true;
        }
        return false;
    };
    const auto recorded = [&] { return files.Snapshot().size(); };

    ASSERT_TRUE(tick_until([&] { return recorded() >= 3; })) << "no pictures from the stream";

    stream.Kill();
    // The last frame may come again until the source sees the stream end.
    const int failed_before = camera.failed;
    ASSERT_TRUE(tick_until([&] { return camera.failed > failed_before; }))
        << "the broken stream went unnoticed";
    // Away across several attempts to reopen it: no frame, no picture.
    const int grabbed = camera.grabbed;
    const size_t recorded_before_return = recorded();
    for (const auto until = Steady::now() + 3 * kReopen_Delay; Steady::now() < until;)
        one_tick();
    EXPECT_EQ(camera.grabbed, grabbed);
    EXPECT_EQ(recorded(), recorded_before_return);
    EXPECT_TRUE(tick.State().Rec_Continuous);

    stream.Start();
    ASSERT_TRUE(tick_until([&] { return recorded() >= recorded_before_return + 3; }))
        << "recording did not resume";
    for (const TFichier& picture : files.Snapshot()) {
        const test::Decoded_Jpeg decoded = test::Decode_Jpeg(test::Bytes_Of(picture.Path));
        EXPECT_EQ(decoded.warnings, 0) << picture.Path;
        EXPECT_EQ(QSize(decoded.width, decoded.height), QSize(320, 240)) << picture.Path;
    }
    camera.Close_Capture();
}

// A USB camera that loses packets hands over frames cut short that still end
// in an end marker. Here every other frame is such a one: decoded as libjpeg
// would fill it, its missing half reads as motion and opens an episode. Each
// must count as no frame, so that only the whole frames are compared.
TEST(Camera_Fault, Frames_Cut_Short_Are_No_Frames_And_Open_No_Episode) {
    const test::Temp_Dir dir;
    const std::string whole = Encode_Jpeg(test::Texture(0));
    dir.Write("frame0.jpg", whole);
    dir.Write("frame1.jpg", whole.substr(0, whole.size() / 2) + "\xff\xd9");
    Gst_Frame_Source source("multifilesrc location=\"" + dir.Folder() +
                                "frame%d.jpg\" index=0 stop-index=1 loop=true caps=image/jpeg"
                                " ! identity sleep-time=20000",
                            kReopen_Delay);
    Counted_Camera camera(source);
    test::Fake_View view;
    test::Fake_Clock clock;
    Upload_List files;
    Recording_Controller tick(view, camera, clock, files, nullptr);
    view.settings = test::Recording_Settings(dir.Folder() + "pictures/");
    view.settings.Delay_Start_ms = 0;
    tick.Set_Stamp_Dpi(96);
    camera.Open_Capture();
    tick.BTN_Start_Stop_Rec_DetectClick();

    int ticks = 0;
    for (const auto deadline = Steady::now() + kPatience;
         Steady::now() < deadline && (camera.failed < 5 || camera.grabbed < 5);) {
        clock.ticks += 50;
        tick.TMR_Refresh_IMGTimer();
        ++ticks;
        std::this_thread::sleep_for(kTick_Period);
    }
    camera.Close_Capture();
    ASSERT_GE(camera.grabbed, 5) << "too few whole frames in " << ticks << " ticks";
    ASSERT_GE(camera.failed, 5) << "frames cut short were taken as frames";
    EXPECT_FALSE(tick.State().Rec_Motion);
    EXPECT_EQ(tick.State().Num_Folder_D, 0u);
    EXPECT_TRUE(files.Snapshot().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "pictures"));
}

} // namespace
} // namespace vistrel
