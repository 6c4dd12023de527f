// Recorded pictures on their way to an FTP server that fails the ways real
// ones do: it crashes in the middle of a store, stays away, comes back with a
// password the program does not have yet, stops answering, stalls a data
// connection or refuses one picture for good. The sampling tick, the upload
// list, the worker and the FTP client are the real ones; each tick's run is
// waited for, so that its outcome and its duration are known.
#include "recording/recording_controller.h"
#include "recording/storage_layout.h"
#include "upload/ftp_client.h"
#include "upload/upload_worker.h"

#include "support/fake_ftp_server.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// Every wait of the FTP client, short so that each fault costs the test
// little; the program's own are a minute.
constexpr Milliseconds kTime_Out = 1000ms;
// What a run may take beyond its time-out on a busy machine.
constexpr Milliseconds kMargin = 1500ms;

const std::string kRemote_Folder = "RIDEV_2026_12_08_R0001";

std::set<std::string> Pictures_In(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == ".jpg")
            names.insert(entry.path().filename().string());
    return names;
}

// The name of the n-th picture of the test: the fake clock stands still.
std::string Picture_Name(int32_t n) {
    return Picture_File_Name(14, 5, 9, n) + ".jpg";
}

// A frame unlike every other, detailed enough that its picture takes several
// chunks on the data connection.
QImage Frame(int n) {
    QImage frame(320, 240, QImage::Format_RGB32);
    uint32_t state = 2654435761u * static_cast<uint32_t>(n + 1);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            frame.setPixel(x, y, 0xff000000u | (state >> 8));
        }
    return frame;
}

struct Run_Outcome {
    Steady::duration took;
    size_t finished; // pictures that left the line: sent, or refused for good
};

class Upload_Faults : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    test::Fake_View view;
    test::Fake_Camera camera;
    test::Fake_Clock clock;
    Upload_List files;
    FTP_Client client;
    std::mutex settings_mutex;
    std::atomic<int> runs_started{0};
    Upload_Worker worker{client,
                         files,
                         {[this] {
                              ++runs_started;
                              std::lock_guard lock(settings_mutex);
                              return view.settings;
                          },
                          nullptr, nullptr, dir.File("upload_refused")}};
    Recording_Controller tick{view, camera, clock, files, [this] { Wake(); }};

    std::vector<Run_Outcome> runs;
    // Called on the test's thread over and over while a run is in progress.
    std::function<void()> during_run;
    int frames = 0;

    void SetUp() override {
        view.settings.Sampling_ms = 200;
        view.settings.Threshold = 5;
        view.settings.Dest_Folder = dir.Folder() + "pictures/";
        view.settings.Max_Files = 30000;
        view.settings.Use_FTP = true;
        view.settings.FTP_Login = test::Pyftpdlib_Server::kUser;
        client.Read_Timeout = kTime_Out;
        client.Stall_Timeout = kTime_Out;
        client.Connect_Timeout = kTime_Out;
        tick.Set_Stamp_Dpi(96);
    }

    void Use_Server(uint16_t port, const std::string& password) {
        std::lock_guard lock(settings_mutex);
        view.settings.FTP_Server = "127.0.0.1:" + std::to_string(port);
        view.settings.FTP_Password = password;
    }

    // The controller's wake-up of the worker: one run, waited for and timed.
    void Wake() {
        const size_t waiting = files.Unsent_Count();
        const int started = runs_started;
        const auto start = Steady::now();
        const auto deadline = start + kTime_Out + kMargin + 10s;
        worker.Start();
        while (runs_started == started && Steady::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_GT(runs_started.load(), started) << "the wake-up started no run";
        while (worker.Active() && Steady::now() < deadline) {
            if (during_run)
                during_run();
            std::this_thread::sleep_for(1ms);
        }
        runs.push_back({Steady::now() - start, waiting - files.Unsent_Count()});
        if (worker.Active()) {
            // Cut it short, as closing the window does, so that the test
            // reports the hang instead of hanging itself.
            client.Abort_Transfer();
            client.Disconnect();
            while (worker.Active())
                std::this_thread::sleep_for(1ms);
        }
    }

    void Tick() {
        camera.frames.push_back(Frame(frames++));
        clock.ticks += 200;
        tick.TMR_Refresh_IMGTimer();
    }

    // Ticks `count` times; how many pictures each tick's run finished.
    std::vector<size_t> Finished_By_Ticks(int count) {
        const size_t first = runs.size();
        for (int k = 0; k < count; ++k)
            Tick();
        std::vector<size_t> finished;
        for (size_t i = first; i < runs.size(); ++i)
            finished.push_back(runs[i].finished);
        return finished;
    }

    // Recording stopped, the next ticks send what waits.
    void Drain() {
        tick.BTN_StopClick();
        for (int k = 0; k < 60 && !files.Snapshot().empty(); ++k)
            Tick();
        EXPECT_TRUE(files.Snapshot().empty()) << files.Unsent_Count() << " pictures never left";
    }

    fs::path Local_Folder() const {
        return fs::path(dir.Folder()) / "pictures/RIDEV_2026_12_08/R0001";
    }

    void Expect_No_Run_Outlasted_Its_Time_Out() const {
        ASSERT_FALSE(runs.empty());
        for (size_t i = 0; i < runs.size(); ++i)
            EXPECT_LE(runs[i].took, kTime_Out + kMargin)
                << "run " << i << " took "
                << std::chrono::duration_cast<std::chrono::milliseconds>(runs[i].took).count()
                << " ms";
    }
};

using Finished = std::vector<size_t>;

TEST_F(Upload_Faults, Pictures_Survive_A_Crash_A_Wrong_Password_Silence_And_A_Refusal) {
    // Recorded while the server is down, refused when its turn comes with
    // others waiting behind it.
    const std::string refused = Picture_Name(5);
    test::Pyftpdlib_Server server(refused);
    Use_Server(server.Port(), test::Pyftpdlib_Server::kPassword);

    std::atomic<bool> freeze_at_store{false};
    std::atomic<bool> frozen_in_store{false};
    // The client outlives what the hook below uses, also when a check ends
    // the test early.
    struct Hook_Remover {
        FTP_Client& client;
        ~Hook_Remover() { client.OnStatus = nullptr; }
    } remove_hook{client};
    client.OnStatus = [&](Ftp_Status status, const std::string& text) {
        if (status == Ftp_Status::ftpTransfer && text.starts_with("Transferring: STOR") &&
            freeze_at_store.exchange(false)) {
            server.Pause();
            frozen_in_store = true;
        }
    };
    tick.BTN_Start_Stop_RecClick();

    // Each run sends the picture of the tick before.
    EXPECT_EQ(Finished_By_Ticks(3), (Finished{0, 1, 1}));

    // The server dies with a store under way: the store has gone out but not
    // been answered when the process is killed.
    bool killed = false;
    freeze_at_store = true;
    during_run = [&] {
        if (frozen_in_store && !killed) {
            std::this_thread::sleep_for(100ms); // lets the client wait for the answer
            server.Kill();
            killed = true;
        }
    };
    EXPECT_EQ(Finished_By_Ticks(1), Finished{0});
    during_run = nullptr;
    ASSERT_TRUE(killed) << "the run never got to its store";
    // Nobody listens any more.
    EXPECT_EQ(Finished_By_Ticks(2), (Finished{0, 0}));

    // It comes back, but the program still has the old password.
    Use_Server(server.Port(), "an old password");
    server.Restart();
    EXPECT_EQ(Finished_By_Ticks(2), (Finished{0, 0}));
    // The right one is typed while the server hangs: the new connection is
    // taken by the system, but no greeting comes.
    Use_Server(server.Port(), test::Pyftpdlib_Server::kPassword);
    server.Pause();
    EXPECT_EQ(Finished_By_Ticks(1), Finished{0});
    server.Resume();
    // The backlog goes out as fast as the server takes it, for a sampling
    // period per run; how many that is depends on the machine.
    EXPECT_GE(Finished_By_Ticks(1).at(0), 1u);

    // It hangs in the middle of a session: nothing is answered. Once it
    // answers again, the late replies must not pass for those of the next
    // commands: the connection that timed out is not used again.
    server.Pause();
    EXPECT_EQ(Finished_By_Ticks(2), (Finished{0, 0}));
    server.Resume();
    EXPECT_GE(Finished_By_Ticks(1).at(0), 1u);

    Drain();
    const std::set<std::string> local = Pictures_In(Local_Folder());
    EXPECT_EQ(local.size(), size_t(13)) << "every recording tick wrote its picture";
    ASSERT_EQ(local.count(refused), 1u);
    std::set<std::string> expected = local;
    expected.erase(refused);
    const fs::path remote = server.Home().Path() / kRemote_Folder;
    EXPECT_EQ(Pictures_In(remote), expected);
    for (const std::string& name : expected)
        EXPECT_TRUE(test::Bytes_Of(Local_Folder() / name) == test::Bytes_Of(remote / name)) << name;
    Expect_No_Run_Outlasted_Its_Time_Out();
}

// A plain file on the server has the name the first episode's folder needs:
// that episode is refused for good, and the next one arrives all the same.
TEST_F(Upload_Faults, A_File_Named_Like_An_Episode_Folder_Holds_Back_No_Later_Episode) {
    test::Pyftpdlib_Server server;
    server.Home().Write(kRemote_Folder, "not a folder");
    Use_Server(server.Port(), test::Pyftpdlib_Server::kPassword);

    tick.BTN_Start_Stop_RecClick();
    Finished_By_Ticks(3);
    tick.BTN_StopClick();
    Finished_By_Ticks(1);
    tick.BTN_Start_Stop_RecClick(); // the next episode, R0002
    Finished_By_Ticks(3);
    Drain();

    const fs::path second_local = fs::path(dir.Folder()) / "pictures/RIDEV_2026_12_08/R0002";
    const std::set<std::string> first = Pictures_In(Local_Folder());
    const std::set<std::string> second = Pictures_In(second_local);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(Pictures_In(server.Home().Path() / "RIDEV_2026_12_08_R0002"), second);
    for (const std::string& name : second)
        EXPECT_TRUE(test::Bytes_Of(second_local / name) ==
                    test::Bytes_Of(server.Home().Path() / "RIDEV_2026_12_08_R0002" / name))
            << name;
    // The refused ones stay on the disk, listed for the user.
    std::string listed;
    for (const std::string& name : first)
        listed += (Local_Folder() / name).string() + "\n";
    EXPECT_EQ(dir.Read("upload_refused"), listed);
    EXPECT_EQ(worker.Refused_Count(), first.size());
    EXPECT_EQ(server.Home().Read(kRemote_Folder), "not a folder");
    Expect_No_Run_Outlasted_Its_Time_Out();
}

TEST_F(Upload_Faults, Stalled_Data_Connections_Are_Given_Up_And_The_Picture_Sent_Again) {
    using namespace test;
    const std::string first = Picture_Name(1);
    const std::string in_folder = "257 \"/" + kRemote_Folder + "\" is current";
    const std::vector<Ftp_Step> login = Login_Steps("cam", "pw");
    // The listing's data connection opens and then nothing comes on it: given
    // up, and with it the connection, whose replies to come are unknown.
    std::vector<Ftp_Step> script =
        Joined(login, {Expect("PWD"), Send("257 \"/\" is current"), Expect("CDUP"), Send("250 up"),
                       Expect("TYPE A"), Send("200 ascii"), Passive(), Expect("LIST"),
                       Send("150 listing"), Stall(), Reconnect()});
    // The next run lists again; then the store's data connection is taken and
    // never read. A picture the socket buffers hold whole shows this as a
    // final reply that never comes; a larger one would stall the sending
    // itself. Either wait has its time-out.
    script =
        Joined(Joined(Joined(script, login), Enter_New_Folder_Steps(kRemote_Folder)),
               {Passive(), Expect("STOR " + first), Send("150 go ahead"), Stall(), Reconnect()});
    // A fresh session starts at the top again and finds the folder made.
    script =
        Joined(Joined(script, login),
               {Expect("PWD"), Send("257 \"/\" is current"), Expect("CDUP"), Send("250 up"),
                Expect("TYPE A"), Send("200 ascii"), Passive(), Expect("LIST"), Send("150 listing"),
                Serve("drwxr-xr-x 2 cam users 4096 Dec  8 14:05 " + kRemote_Folder + "\r\n"),
                Send("226 done"), Expect("TYPE I"), Send("200 binary"),
                Expect("CWD " + kRemote_Folder), Send("250 in")});
    for (int n = 1; n <= 3; ++n) {
        if (n > 1)
            script = Joined(script, {Expect("PWD"), Send(in_folder)});
        script = Joined(script, {Passive(), Expect("STOR " + Picture_Name(n)), Send("150 go ahead"),
                                 Receive(), Send("226 stored")});
    }
    Fake_Ftp_Server server(std::move(script));
    Use_Server(server.Port(), "pw");

    tick.BTN_Start_Stop_RecClick();
    EXPECT_EQ(Finished_By_Ticks(3), (Finished{0, 0, 0}));
    Drain();

    EXPECT_EQ(server.Mismatches(), std::vector<std::string>{});
    const std::vector<std::string> stored = server.Stored();
    ASSERT_EQ(stored.size(), 3u);
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(stored[size_t(n - 1)] == test::Bytes_Of(Local_Folder() / Picture_Name(n)))
            << Picture_Name(n);
    EXPECT_EQ(Pictures_In(Local_Folder()).size(), 3u);
    EXPECT_EQ(server.Connections(), 3);
    Expect_No_Run_Outlasted_Its_Time_Out();
}

} // namespace
} // namespace vistrel
