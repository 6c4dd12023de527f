// Cost of a row's thumbnail: a 640 x 480 picture decoded at an eighth of its
// size, against the full decode the camera's frames take.
//   ./build/bench/vistrel_bench_thumbnail
#include "capture/mjpeg_decoder.h"
#include "episodes/thumbnail_decoder.h"
#include "recording/snapshot.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

// Smooth gradients with some noise, closer to a recorded picture than a flat
// fill, encoded as the recorder writes it.
const std::string& Picture_640() {
    static const std::string jpeg = [] {
        QImage picture(640, 480, QImage::Format_RGB32);
        std::mt19937 gen(7);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y,
                                 qRgb((x + y) / 6 + gen() % 16, (2 * x - y + 960) / 12 + gen() % 16,
                                      y / 3 + gen() % 16));
        return vistrel::Encode_Jpeg(picture);
    }();
    return jpeg;
}

void BM_Decode_Thumbnail_640(benchmark::State& state) {
    const std::string& jpeg = Picture_640();
    for (auto _ : state)
        benchmark::DoNotOptimize(vistrel::Decode_Thumbnail_Bytes(jpeg));
}

void BM_Decode_Full_640(benchmark::State& state) {
    const std::string& jpeg = Picture_640();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            vistrel::Decode_Mjpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size()));
}

} // namespace

BENCHMARK(BM_Decode_Thumbnail_640);
BENCHMARK(BM_Decode_Full_640);
