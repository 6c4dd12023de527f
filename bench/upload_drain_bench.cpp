// How fast a backlog left by an outage drains: 1000 pictures of 40 KB are
// queued while the FTP server (pyftpdlib on loopback) is down; it comes back
// while recording goes on at one picture every 200 ms, and the time until
// the queue is empty again gives the pictures sent per second.
//   ./build/bench/vistrel_bench_drain
#include "support/fake_ftp_server.h"
#include "support/temp_dir.h"
#include "upload/ftp_client.h"
#include "upload/upload_worker.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace {

using namespace vistrel;
using namespace std::chrono_literals;

constexpr int kBacklog = 1000;
constexpr auto kSampling = 200ms;

void BM_Drain_Backlog(benchmark::State& state) {
    for (auto _ : state) {
        test::Pyftpdlib_Server server;
        server.Kill();
        const test::Temp_Dir local;
        std::string picture;
        for (int i = 0; i < 40 * 1024; ++i)
            picture += static_cast<char>((i * 131 + i / 256) % 256);
        Upload_List files;
        int recorded = 0;
        const auto record = [&] {
            const std::string name = "I_14_05_09__" + std::to_string(recorded++) + ".jpg";
            local.Write("RIDEV_2026_12_08/R0001/" + name, picture);
            files.Append({local.File("RIDEV_2026_12_08/R0001/" + name), name,
                          "RIDEV_2026_12_08/R0001/", false});
        };
        while (recorded < kBacklog)
            record();

        Working_Settings settings;
        settings.Use_FTP = true;
        settings.Sampling_ms = static_cast<int>(kSampling.count());
        settings.FTP_Server = "127.0.0.1:" + std::to_string(server.Port());
        settings.FTP_Login = test::Pyftpdlib_Server::kUser;
        settings.FTP_Password = test::Pyftpdlib_Server::kPassword;
        FTP_Client client;
        Upload_Worker worker(client, files, {[&] { return settings; }, nullptr, nullptr});

        server.Restart();
        const auto start = std::chrono::steady_clock::now();
        auto next_tick = start;
        // The tick: a wake-up, then its picture, as the sampling tick does.
        while (files.Unsent_Count() > 1 && std::chrono::steady_clock::now() - start < 120s) {
            worker.Start();
            record();
            next_tick += kSampling;
            std::this_thread::sleep_until(next_tick);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        // Sent meanwhile: the backlog and what was recorded on the way.
        const double sent = static_cast<double>(recorded) - double(files.Unsent_Count());
        state.counters["pictures_per_second"] = sent / seconds;
        state.counters["seconds"] = seconds;
        worker.Terminate();
        client.Close_For_Good();
    }
}
BENCHMARK(BM_Drain_Backlog)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
