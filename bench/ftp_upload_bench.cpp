// Time of one picture's upload (40 KB) to a pyftpdlib server on the loopback
// interface, in wall-clock time since the server's work counts:
//   ./build/bench/vistrel_bench_ftp
// Steady: the upload of a picture of the episode in progress, on a connection
// already open and logged in (PWD, then the store). First_Of_Episode: the first
// picture of an episode, which also moves up, lists, creates the folder and
// enters it.
#include "upload/ftp_client.h"

#include "support/fake_ftp_server.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace vistrel;

constexpr const char* kPicture_Name = "I_14_05_09__00012.jpg";

struct Setup {
    test::Pyftpdlib_Server server;
    test::Temp_Dir local;
    FTP_Client client;

    Setup() {
        std::string picture;
        for (int i = 0; i < 40 * 1024; ++i)
            picture += static_cast<char>((i * 131 + i / 256) % 256);
        local.Write(kPicture_Name, picture);
        client.Set_Server("127.0.0.1:" + std::to_string(server.Port()));
        client.Set_Credentials(test::Pyftpdlib_Server::kUser, test::Pyftpdlib_Server::kPassword);
        client.Connect();
        client.Login();
    }
    std::string Picture() const { return local.File(kPicture_Name); }
};

void BM_Upload_Steady(benchmark::State& state) {
    Setup setup;
    setup.client.Make_Dir("RIDEV_2026_12_08_R0001");
    setup.client.Change_Dir("RIDEV_2026_12_08_R0001");
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup.client.Get_Current_Dir());
        setup.client.Put_File(setup.Picture(), kPicture_Name, false);
    }
}
BENCHMARK(BM_Upload_Steady)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Upload_First_Of_Episode(benchmark::State& state) {
    Setup setup;
    setup.client.Make_Dir("RIDEV_2026_12_08_R0000");
    setup.client.Change_Dir("RIDEV_2026_12_08_R0000");
    const std::string folder = "RIDEV_2026_12_08_R0001";
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup.client.Get_Current_Dir());
        setup.client.Change_Dir_Up();
        setup.client.List_Dir();
        setup.client.Make_Dir(folder);
        setup.client.Change_Dir(folder);
        setup.client.Put_File(setup.Picture(), kPicture_Name, false);

        // Back to where the next episode starts, with the listing as short as
        // before, outside the timing.
        state.PauseTiming();
        setup.client.Change_Dir_Up();
        std::filesystem::remove_all(setup.server.Home().Path() / folder);
        setup.client.Change_Dir("RIDEV_2026_12_08_R0000");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Upload_First_Of_Episode)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
