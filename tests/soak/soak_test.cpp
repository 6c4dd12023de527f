// Weeks of watching, fast-forwarded: many thousands of ticks on a fake clock,
// bursts of motion between calm spells, every recorded picture uploaded to a
// real FTP server on loopback. What a long run must not do is lose a picture
// or slowly take memory, threads or file descriptors.
//
// VISTREL_SOAK_TICKS sets the number of ticks (100 000 by default). The run
// time is printed, not checked.
#include "recording/recording_controller.h"
#include "support/fake_ftp_server.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"
#include "upload/ftp_client.h"
#include "upload/upload_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/statvfs.h>
#include <thread>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A fake clock whose calendar moves with its tick count, in UTC so that the
// machine's zone plays no part.
class Soak_Clock : public Clock {
public:
    uint32_t ticks = 0;
    std::time_t start = 0;

    uint32_t Tick_Count() override { return ticks; }
    Local_Date_Time Now() override {
        const std::time_t moment = start + ticks / 1000;
        std::tm t{};
        ::gmtime_r(&moment, &t);
        return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    }
};

// Resident memory of this process in bytes.
long Resident_Bytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

size_t Count_Entries(const char* folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder))
        ++n;
    return n;
}

struct Resources {
    long resident = 0;
    size_t threads = 0;
    size_t descriptors = 0;
};

Resources Measure_Resources() {
    return {Resident_Bytes(), Count_Entries("/proc/self/task"), Count_Entries("/proc/self/fd")};
}

TEST(Soak, HundredThousandTicksLoseNothingAndLeakNothing) {
    const char* wanted = std::getenv("VISTREL_SOAK_TICKS");
    const long total_ticks = wanted != nullptr ? std::atol(wanted) : 100000;
    ASSERT_GE(total_ticks, 2000);

    // Fifty thousand pictures, twice (here and on the server): a memory file
    // system keeps the disk out of it when it has room for them.
    struct statvfs shm {};
    if (std::getenv("TMPDIR") == nullptr && ::statvfs("/dev/shm", &shm) == 0 &&
        double(shm.f_bavail) * double(shm.f_frsize) > 2e9)
        ::setenv("TMPDIR", "/dev/shm", 1);
    test::Pyftpdlib_Server server;
    const test::Temp_Dir dest;
    test::Fake_View view;
    view.settings = test::Recording_Settings(dest.Folder());
    view.settings.Delay_Start_ms = 1000;
    view.settings.Delay_Stop_ms = 2000;
    view.settings.Use_FTP = true;
    view.settings.FTP_Server = "127.0.0.1:" + std::to_string(server.Port());
    view.settings.FTP_Login = test::Pyftpdlib_Server::kUser;
    view.settings.FTP_Password = test::Pyftpdlib_Server::kPassword;
    view.add_time_date = true;
    view.jpeg_size_index = 3; // small files: the soak is about the program, not the disk

    const Resources before_worker = Measure_Resources();
    Resources early;
    {
        test::Fake_Camera camera;
        Soak_Clock clock;
        clock.start = 1796767200; // 2026-12-08 22:00 UTC: the run crosses midnight
        Upload_List files;
        FTP_Client client;
        client.Read_Timeout = 10s;
        client.Stall_Timeout = 10s;
        client.Connect_Timeout = 10s;
        Upload_Worker worker(client, files, {[&] { return view.settings; }, nullptr});
        Recording_Controller tick(view, camera, clock, files, [&] { worker.Start(); });
        tick.Set_Stamp_Dpi(96);

        const QImage calm_a = test::Texture(0);
        const QImage calm_b = test::Texture(1);
        const QImage moving = test::Texture(2);

        // As the real timer does, a tick comes when the previous run is long
        // over; the wait is bounded by the client's time-outs.
        const auto wait_for_worker = [&] {
            const auto deadline = std::chrono::steady_clock::now() + 35s;
            while (worker.Active()) {
                ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "an upload run hangs";
                std::this_thread::sleep_for(20us);
            }
        };

        // Every upload leaves a closed data connection in TIME-WAIT for a
        // minute. A real timer records at most twenty pictures a second, but
        // fast-forwarded, the loopback's 28 000 ephemeral ports would run out
        // (other tests use some too); pacing the uploads keeps well below.
        constexpr auto kUpload_Spacing = 3500us;
        auto next_upload = std::chrono::steady_clock::now();
        uint32_t recorded = 0;

        const auto started = std::chrono::steady_clock::now();
        tick.BTN_Start_Stop_Rec_DetectClick();
        for (long i = 0; i < total_ticks; ++i) {
            if (tick.State().Num_Image != recorded) {
                recorded = tick.State().Num_Image;
                std::this_thread::sleep_until(next_upload);
                next_upload = std::chrono::steady_clock::now() + kUpload_Spacing;
            }
            // Twenty ticks of motion, then forty calm ones: a start grace, a
            // recorded burst, the stop delay, a wait.
            const bool motion = (i % 60) < 20;
            camera.frames.push_back(motion ? (i % 2 ? moving : calm_a) : (i % 2 ? calm_b : calm_a));
            clock.ticks += 200;
            tick.TMR_Refresh_IMGTimer();
            wait_for_worker();
            if (HasFatalFailure())
                return;
            if (i == 999)
                early = Measure_Resources();
        }
        // Whatever is still queued (a run that failed, say for want of a port
        // on a busy machine, puts its picture back) goes out on the next
        // wake-ups, as it would on the next ticks.
        const size_t backlog = files.Unsent_Count();
        const auto drain_end = std::chrono::steady_clock::now() + 120s;
        while (files.Unsent_Count() > 0 && std::chrono::steady_clock::now() < drain_end) {
            worker.Start();
            std::this_thread::sleep_for(1ms);
            wait_for_worker();
            if (HasFatalFailure())
                return;
        }
        std::printf("%zu pictures were still waiting when the ticks ended\n", backlog);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(files.Unsent_Count(), 0u);
        EXPECT_TRUE(files.Snapshot().empty()) << "sent entries are still held";

        const Resources end = Measure_Resources();
        std::printf("%ld ticks in %.1f s (%.1f us per tick with its upload); resident memory "
                    "%.1f MB after 1000 ticks, %.1f MB at the end\n",
                    total_ticks, seconds, seconds * 1e6 / double(total_ticks),
                    double(early.resident) / 1e6, double(end.resident) / 1e6);
        EXPECT_LT(end.resident - early.resident, 4L << 20);
        EXPECT_EQ(end.threads, early.threads);
        EXPECT_EQ(end.descriptors, early.descriptors);
        worker.Terminate();
    }
    // The worker's thread and the client's sockets are gone with them.
    const Resources after = Measure_Resources();
    EXPECT_EQ(after.threads, before_worker.threads);
    EXPECT_EQ(after.descriptors, before_worker.descriptors);

    // Every picture on disk is on the server, byte for byte, in the folder
    // named after its episode.
    size_t pictures = 0;
    size_t missing = 0;
    size_t different = 0;
    for (const auto& e : fs::recursive_directory_iterator(dest.Folder())) {
        if (!e.is_regular_file())
            continue;
        ASSERT_EQ(e.path().extension(), ".jpg") << e.path() << " is no picture";
        ++pictures;
        const fs::path episode = e.path().parent_path();
        const std::string remote_folder =
            episode.parent_path().filename().string() + "_" + episode.filename().string();
        const fs::path remote =
            fs::path(server.Home().Folder()) / remote_folder / e.path().filename();
        if (!fs::exists(remote))
            ++missing;
        else if (test::Bytes_Of(remote) != test::Bytes_Of(e.path()))
            ++different;
    }
    size_t on_server = 0;
    for (const auto& e : fs::recursive_directory_iterator(server.Home().Folder()))
        on_server += e.is_regular_file() ? 1 : 0;
    std::printf("%zu pictures recorded\n", pictures);
    // In every sixty ticks, twenty of motion and the ten of the stop delay
    // after them are recorded, but for the grace before the first episode.
    EXPECT_NEAR(double(pictures), total_ticks / 2.0, 20.0);
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(different, 0u);
    EXPECT_EQ(on_server, pictures);
}

} // namespace
} // namespace vistrel
