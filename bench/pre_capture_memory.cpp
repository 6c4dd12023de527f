// The process's peak memory over calm ticks armed with N pictures from before
// the motion (1280 x 720), then the tick that sees motion and the first ones
// of its episode. bench/report.py runs it for 0 and 5 and takes the
// difference:
//   TMPDIR=/dev/shm ./build-release/bench/vistrel_bench_pre_capture_memory 5
#include "armed_tick.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

int main(int argc, char** argv) {
    using namespace vistrel::bench;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const int pictures_before = argc > 1 ? std::atoi(argv[1]) : 0;
    size_t held = 0;
    bool started = false;
    {
        Armed_Tick armed(pictures_before);
        armed.Arm_And_Wait();
        for (int i = 0; i < 100; ++i)
            armed.Run();
        held = armed.tick.Pre_Capture_Bytes();
        started = armed.See_Motion();
        for (int i = 0; i < 5; ++i)
            armed.Run();
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("{\"pre_capture\": %d, \"held_bytes\": %zu, \"peak_rss_kib\": %ld, "
                "\"episode_started\": %s}\n",
                pictures_before, held, usage.ru_maxrss, started ? "true" : "false");
    return started ? 0 : 1;
}
