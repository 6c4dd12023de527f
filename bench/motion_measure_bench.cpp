// Cost of one motion measure at common camera sizes.
//   ./build/bench/vistrel_bench_motion
#include "capture/motion_measure.h"
#include "detection/motion_detector.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Frame {
    int32_t w, h;
    std::vector<uint8_t> bytes;
    vistrel::Frame_View View() const {
        return vistrel::Frame_View::Bgrx(bytes.data(), w, h, w * 4);
    }
};

Frame Noise(int32_t w, int32_t h, unsigned seed) {
    std::mt19937 gen(seed);
    Frame f{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4)};
    for (auto& b : f.bytes)
        b = static_cast<uint8_t>(gen());
    return f;
}

// Grey frames take the slow path of the luma for every sample.
Frame Grey_Noise(int32_t w, int32_t h, unsigned seed) {
    Frame f = Noise(w, h, seed);
    for (size_t i = 0; i < f.bytes.size(); i += 4)
        f.bytes[i + 1] = f.bytes[i + 2] = f.bytes[i];
    return f;
}

void Run(benchmark::State& state, const Frame& a, const Frame& b) {
    for (auto _ : state)
        benchmark::DoNotOptimize(vistrel::Calc_Coef_Correl(a.View(), b.View(), false));
}

void BM_Calc_Coef_Correl(benchmark::State& state) {
    const auto w = static_cast<int32_t>(state.range(0));
    const auto h = static_cast<int32_t>(state.range(1));
    Run(state, Noise(w, h, 1), Noise(w, h, 2));
}

void BM_Calc_Coef_Correl_Grey(benchmark::State& state) {
    const auto w = static_cast<int32_t>(state.range(0));
    const auto h = static_cast<int32_t>(state.range(1));
    Run(state, Grey_Noise(w, h, 1), Grey_Noise(w, h, 2));
}

// What one tick's measure costs through the detector: the frame sampled, its
// samples kept for the next tick, the level read against the last ones.
void Run_Detector(benchmark::State& state, const std::vector<vistrel::Detection_Area>& areas) {
    const auto w = static_cast<int32_t>(state.range(0));
    const auto h = static_cast<int32_t>(state.range(1));
    const Frame frames[] = {Noise(w, h, 1), Noise(w, h, 2)};
    vistrel::Motion_Detector detector;
    detector.Configure(areas, false);
    size_t next = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(detector.Measure(frames[next++ % 2].View(), false));
}

void BM_Motion_Detector_Plain(benchmark::State& state) {
    Run_Detector(state, {});
}

// Eight areas, as many as the file keeps, spread over the frame: four
// watched, each on a grid of its own, and four left out across them.
void BM_Motion_Detector_Eight_Areas(benchmark::State& state) {
    using vistrel::Area_Kind;
    Run_Detector(state, {{Area_Kind::Watch, 0, 0, 5000, 5000},
                         {Area_Kind::Watch, 5000, 0, 5000, 5000},
                         {Area_Kind::Watch, 0, 5000, 5000, 5000},
                         {Area_Kind::Watch, 5000, 5000, 5000, 5000},
                         {Area_Kind::Ignore, 2000, 2000, 1000, 6000},
                         {Area_Kind::Ignore, 7000, 2000, 1000, 6000},
                         {Area_Kind::Hide, 4000, 0, 2000, 1500},
                         {Area_Kind::Hide, 4000, 8500, 2000, 1500}});
}

} // namespace

BENCHMARK(BM_Calc_Coef_Correl)
    ->Args({160, 120})
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Args({1920, 1080});
BENCHMARK(BM_Calc_Coef_Correl_Grey)->Args({640, 480})->Args({1920, 1080});
BENCHMARK(BM_Motion_Detector_Plain)->Args({1920, 1080});
BENCHMARK(BM_Motion_Detector_Eight_Areas)->Args({1280, 720})->Args({1920, 1080});
