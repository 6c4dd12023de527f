// What keeping the upload queue in a file costs the sampling tick: one entry
// appended to the list, and with it one record handed to the kernel, while
// the worker finishes entries on its own thread and the queue's thread
// flushes and rewrites the file. Target: at most 100 µs a picture.
//   ./build/bench/vistrel_bench_queue    (the file on the temporary folder's disk)
//   TMPDIR=/dev/shm ./build/bench/vistrel_bench_queue
#include "support/temp_dir.h"
#include "upload/upload_queue_file.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace vistrel;

TFichier Picture(long n) {
    const std::string name = "I_14_05_09__" + std::to_string(n % 100000) + ".jpg";
    return {"/home/cam/Pictures/Vistrel/RIDEV_2026_12_08/R0001/" + name, name,
            "RIDEV_2026_12_08/R0001/", false};
}

// `backlog` entries wait while the worker keeps sending the oldest.
void BM_Upload_Queue_Append(benchmark::State& state) {
    const test::Temp_Dir dir;
    Upload_List files;
    Upload_Queue_File queue(dir.File("upload_queue"), files);
    const auto backlog = static_cast<size_t>(state.range(0));
    long n = 0;
    for (; n < static_cast<long>(backlog); ++n)
        files.Append(Picture(n));
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!done) {
            if (files.Unsent_Count() > backlog) {
                if (const auto taken = files.Take_First_Unsent())
                    files.Finish(taken->id);
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
    // Each append timed on its own: a rewrite of the file must not hold one
    // up, which only the slowest show.
    std::vector<double> took;
    took.reserve(1 << 20);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        files.Append(Picture(n++));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        if (took.size() < took.capacity())
            took.push_back(seconds);
    }
    done = true;
    worker.join();
    std::sort(took.begin(), took.end());
    if (!took.empty()) {
        state.counters["p99_us"] = took[took.size() * 99 / 100] * 1e6;
        state.counters["max_us"] = took.back() * 1e6;
    }
}
BENCHMARK(BM_Upload_Queue_Append)
    ->Arg(10)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
