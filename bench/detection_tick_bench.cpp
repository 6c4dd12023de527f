// The tick with a hide area and with pictures from before the motion, beside
// the plain tick of the same 1280 x 720 camera in the same run (report.py
// gives the ratios). Built into vistrel_bench_tick.
#include "armed_tick.h"
#include "tick_fixtures.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace {

using namespace vistrel;
using namespace vistrel::bench;

constexpr int kPictures_Before = 5;

// The corner where a neighbour's window would be.
const std::vector<Detection_Area> kHidden_Corner = {{Area_Kind::Hide, 7500, 0, 2500, 2500}};

// Continuous recording with the stamp, as BM_Tick_Recording, with a hide area
// blacked out of every frame and left out of the measure.
void BM_Tick_Recording_Hide_Area(benchmark::State& state) {
    Folder folder;
    Null_View view;
    view.settings.Dest_Folder = folder.Path();
    view.settings.Max_Files = 200;
    view.settings.Threshold = 5;
    Ready_Camera camera;
    Steady_Clock clock;
    Upload_List files;
    Recording_Controller tick(view, camera, clock, files, nullptr);
    tick.Set_Stamp_Dpi(96);
    Detection_Settings detection;
    detection.areas = kHidden_Corner;
    tick.Set_Detection(detection);
    tick.BTN_Start_Stop_RecClick();
    for (auto _ : state)
        tick.TMR_Refresh_IMGTimer();
    state.counters["pictures"] = double(files.Snapshot().size());
}

// Armed and calm past the grace delay: the tick that keeps its frame in the
// full ring, letting the oldest go.
void Run_Waiting(benchmark::State& state, int pictures_before) {
    Armed_Tick armed(pictures_before);
    armed.Arm_And_Wait();
    for (auto _ : state)
        armed.Run();
    if (armed.tick.State().Rec_Motion || !armed.files.Snapshot().empty())
        state.SkipWithError("the still scene started an episode");
    if (pictures_before > 0)
        state.counters["pre_capture_bytes"] = double(armed.tick.Pre_Capture_Bytes());
}

void BM_Tick_Waiting(benchmark::State& state) {
    Run_Waiting(state, 0);
}
void BM_Tick_Waiting_Pre_Capture(benchmark::State& state) {
    Run_Waiting(state, kPictures_Before);
}

// The same at the default 200 ms period, when the frame given back to the
// camera has long left the caches either way.
void Run_Waiting_Paced(benchmark::State& state, int pictures_before) {
    Armed_Tick armed(pictures_before);
    armed.Arm_And_Wait();
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto start = std::chrono::steady_clock::now();
        armed.Run();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (armed.tick.State().Rec_Motion)
        state.SkipWithError("the still scene started an episode");
}

void BM_Tick_Waiting_Paced(benchmark::State& state) {
    Run_Waiting_Paced(state, 0);
}
void BM_Tick_Waiting_Pre_Capture_Paced(benchmark::State& state) {
    Run_Waiting_Paced(state, kPictures_Before);
}

// The first recording tick of a motion episode: its own picture, and the
// pictures from before the motion ahead of it.
void Run_Episode_Start(benchmark::State& state, int pictures_before) {
    Armed_Tick armed(pictures_before);
    size_t pictures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        armed.tick.BTN_StopClick();
        armed.Arm_And_Wait();
        const bool started = armed.See_Motion();
        const size_t before = armed.files.Snapshot().size();
        state.ResumeTiming();
        armed.Run();
        state.PauseTiming();
        if (!started) {
            state.SkipWithError("the motion started no episode");
            break;
        }
        pictures = armed.files.Snapshot().size() - before;
        state.ResumeTiming();
    }
    state.counters["pictures"] = double(pictures);
    if (pictures != size_t(pictures_before) + 1)
        state.SkipWithError("the episode's first tick wrote another number of pictures");
}

void BM_Tick_Episode_Start(benchmark::State& state) {
    Run_Episode_Start(state, 0);
}
void BM_Tick_Episode_Start_Pre_Capture(benchmark::State& state) {
    Run_Episode_Start(state, kPictures_Before);
}

} // namespace

BENCHMARK(BM_Tick_Recording_Hide_Area)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Waiting)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Waiting_Pre_Capture)->Unit(benchmark::kMicrosecond);
// Twice the paced recording tick's count: a waiting tick is short, and the
// scheduler's noise is a larger share of it.
BENCHMARK(BM_Tick_Waiting_Paced)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Waiting_Pre_Capture_Paced)
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Episode_Start)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Episode_Start_Pre_Capture)->Unit(benchmark::kMicrosecond);
