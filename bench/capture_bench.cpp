// Cost of turning the frame a tick takes into the program's RGB32 frame: a
// raw camera sample through GStreamer's converter, and an MJPEG frame through
// libjpeg-turbo, at 1280 x 720.
//   ./build/bench/vistrel_bench_capture
#include "capture/gst_sample_converter.h"
#include "capture/mjpeg_decoder.h"
#include "recording/snapshot.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// Smooth gradients with some noise, closer to a camera than a flat fill.
uint8_t Texture(int x, int y, int plane, std::mt19937& gen) {
    return static_cast<uint8_t>((x * (plane + 1) + y * (3 - plane)) / 8 + gen() % 16);
}

vistrel::gst::Sample_Ptr Raw_Sample(GstVideoFormat format) {
    gst_init(nullptr, nullptr);
    GstVideoInfo info;
    gst_video_info_set_format(&info, format, kWidth, kHeight);
    GST_VIDEO_INFO_FPS_N(&info) = 30;
    GST_VIDEO_INFO_FPS_D(&info) = 1;
    const vistrel::gst::Buffer_Ptr buffer(
        gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr));
    {
        vistrel::gst::Mapped_Video_Frame frame(info, buffer.get(), GST_MAP_WRITE);
        std::mt19937 gen(7);
        for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(frame.Get()); ++p) {
            auto* data = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame.Get(), p));
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame.Get(), p);
            const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(frame.Get(), p);
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < stride; ++x)
                    data[y * stride + x] = Texture(x, y, static_cast<int>(p), gen);
        }
    }
    const vistrel::gst::Caps_Ptr caps(gst_video_info_to_caps(&info));
    return vistrel::gst::Sample_Ptr(gst_sample_new(buffer.get(), caps.get(), nullptr, nullptr));
}

void Convert(benchmark::State& state, GstVideoFormat format) {
    const vistrel::gst::Sample_Ptr sample = Raw_Sample(format);
    vistrel::Gst_Sample_Converter converter;
    for (auto _ : state)
        benchmark::DoNotOptimize(converter.Convert(sample.get()));
}

void BM_Convert_I420(benchmark::State& state) {
    Convert(state, GST_VIDEO_FORMAT_I420);
}
void BM_Convert_YUY2(benchmark::State& state) {
    Convert(state, GST_VIDEO_FORMAT_YUY2);
}
void BM_Convert_NV12(benchmark::State& state) {
    Convert(state, GST_VIDEO_FORMAT_NV12);
}

void BM_Decode_Mjpeg(benchmark::State& state) {
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    std::mt19937 gen(7);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            picture.setPixel(
                x, y, qRgb(Texture(x, y, 0, gen), Texture(x, y, 1, gen), Texture(x, y, 2, gen)));
    const std::string jpeg = vistrel::Encode_Jpeg(picture);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            vistrel::Decode_Mjpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size()));
    state.counters["jpeg_bytes"] = static_cast<double>(jpeg.size());
}

} // namespace

BENCHMARK(BM_Convert_I420)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert_YUY2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert_NV12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode_Mjpeg)->Unit(benchmark::kMillisecond);
