// Cost of the sampling tick and of each of its steps, against a floor made of
// the bare steps done the fastest way, all in one run:
//   TMPDIR=/dev/shm ./build/bench/vistrel_bench_tick
// (a memory file system keeps the disk's noise out of the comparison)
// The camera is a ready 1280 x 720 frame, copied on every grab as the real
// camera's conversion writes a new one; the floor takes its frames the same
// way. Taking a frame from GStreamer is timed by the capture benchmark.
#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "capture/image_view.h"
#include "capture/mjpeg_decoder.h"
#include "capture/motion_measure.h"
#include "recording/episode_file_count.h"
#include "recording/recording_controller.h"
#include "recording/snapshot.h"
#include "recording/storage_layout.h"
#include "tick_fixtures.h"
#include "ui/live_view.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace vistrel;

using namespace vistrel::bench;

void Run_Ticks(benchmark::State& state, bool recording, bool stamp = true) {
    Folder folder;
    Null_View view;
    view.settings.Dest_Folder = folder.Path();
    // Episode folders of a realistic size; the rollover check lists the folder.
    view.settings.Max_Files = 200;
    view.settings.Threshold = 5;
    view.stamp = stamp;
    Ready_Camera camera;
    Steady_Clock clock;
    Upload_List files;
    Recording_Controller tick(view, camera, clock, files, nullptr);
    tick.Set_Stamp_Dpi(96);
    if (recording)
        tick.BTN_Start_Stop_RecClick();
    for (auto _ : state)
        tick.TMR_Refresh_IMGTimer();
    state.counters["pictures"] = double(files.Snapshot().size());
}

void BM_Tick_Recording(benchmark::State& state) {
    Run_Ticks(state, true);
}

// At the default 200 ms period the caches have gone cold between two ticks:
// each tick is timed alone, with the pause between ticks left out.
void BM_Tick_Recording_Paced(benchmark::State& state) {
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
    tick.BTN_Start_Stop_RecClick();
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto start = std::chrono::steady_clock::now();
        tick.TMR_Refresh_IMGTimer();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
void BM_Tick_Recording_No_Stamp(benchmark::State& state) {
    Run_Ticks(state, true, false);
}
void BM_Tick_Stopped(benchmark::State& state) {
    Run_Ticks(state, false);
}

// The live view's picture, as the window scales every frame it shows.
void BM_Step_Live_View(benchmark::State& state) {
    const QImage frame = Scene(1280, 720, 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(Scale_For_Display(frame, QSize(280, 210)));
}
// The same by smoothing the whole frame, for comparison.
void BM_Step_Live_View_Smooth_Whole(benchmark::State& state) {
    const QImage frame = Scene(1280, 720, 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            frame.scaled(QSize(280, 210), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void BM_Step_Time_Stamp(benchmark::State& state) {
    const QImage frame = Scene(1280, 720, 0);
    for (auto _ : state) {
        QImage live = frame; // the stamp writes into its own copy, as in the tick
        Draw_Time_Stamp(live, {2026, 12, 8, 14, 5, 9}, 12, 96);
        benchmark::DoNotOptimize(live.constBits());
    }
}

void BM_Step_Stretch(benchmark::State& state) {
    const QImage frame = Scene(1280, 720, 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(Stretch_Nearest(frame, {640, 480}));
}

void BM_Step_Encode(benchmark::State& state) {
    const QImage picture = Stretch_Nearest(Scene(1280, 720, 0), {640, 480});
    size_t bytes = 0;
    for (auto _ : state)
        bytes = Encode_Jpeg(picture).size();
    state.counters["jpeg_bytes"] = double(bytes);
}

void BM_Step_Write_Atomically(benchmark::State& state) {
    Folder folder;
    const std::string jpeg = Encode_Jpeg(Stretch_Nearest(Scene(1280, 720, 0), {640, 480}));
    int n = 0;
    for (auto _ : state)
        Write_File_Atomically(folder.Path() + "I_" + std::to_string(n++) + ".jpg", jpeg, 0644,
                              Durability::Program_Crash);
}

// A continuous episode folder already holding `files` files.
struct Full_Episode {
    Folder folder;
    Working_Settings settings;
    Recording_State rec;
    const Local_Date_Time now{2026, 12, 8, 14, 5, 9};

    Full_Episode(int64_t files, int32_t max_files) {
        settings.Dest_Folder = folder.Path();
        settings.Max_Files = max_files;
        rec.Rec_Continuous = true;
        rec.Num_Folder_R = 1;
        const std::string episode =
            folder.Path() + Day_Folder_Name(now) + Episode_Folder_Name("R", 1);
        std::filesystem::create_directories(episode);
        for (int64_t i = 0; i < files; ++i)
            std::ofstream(episode + std::to_string(i) + ".jpg");
    }
};

// The rollover check of one picture in an episode folder already holding
// that many files, the program's own picture written after it (the write is
// not timed): the count follows the folder's changes instead of listing it.
void BM_Step_Destination(benchmark::State& state) {
    Full_Episode episode(state.range(0), 1 << 30); // never full: the folder only grows
    Episode_File_Count counter;
    for (auto _ : state) {
        ++episode.rec.Num_Image;
        const Picture_Destination dest =
            Next_Picture_Destination(episode.rec, episode.settings, episode.now, counter);
        state.PauseTiming();
        counter.Before_Own_Write(dest.full_folder, dest.file_name + ".jpg");
        Write_File_Atomically(dest.full_folder + dest.file_name + ".jpg", "jpeg", 0644,
                              Durability::Program_Crash);
        state.ResumeTiming();
    }
}

// The same with the listing at every picture, as before; one short of the
// limit at most, or the first call would move on to a new, empty folder.
void BM_Step_Destination_Listing(benchmark::State& state) {
    Full_Episode episode(state.range(0), 30000);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Next_Picture_Destination(episode.rec, episode.settings, episode.now));
}

void BM_Step_Motion(benchmark::State& state) {
    const QImage a = Scene(1280, 720, 0);
    const QImage b = Scene(1280, 720, 40);
    for (auto _ : state)
        benchmark::DoNotOptimize(Calc_Coef_Correl(View_Of(a), View_Of(b), false));
}

// The bare steps of a recording tick done the fastest way: the camera's
// frame, the stamp drawn with a ready font at a known place, the stretch by
// fixed tables, libjpeg from a ready buffer, a plain write, the motion
// measure. No settings, no window, no folder checks, no upload list.
template <class Grab> void Run_Floor(benchmark::State& state, bool stamp, Grab grab) {
    Folder folder;
    QImage out(640, 480, QImage::Format_RGB32);
    std::vector<int> columns(640), rows(480);
    for (int i = 0; i < 640; ++i)
        columns[size_t(i)] = i * 1280 / 640;
    for (int i = 0; i < 480; ++i)
        rows[size_t(i)] = i * 720 / 480;
    QFont font("DejaVu Sans");
    font.setPixelSize(21);
    font.setBold(true);
    const QString text = QStringLiteral("Vistrel | 08/12/2026  14:05:09  00012");
    QImage previous;
    int n = 0;
    for (auto _ : state) {
        QImage frame = grab();
        if (stamp) {
            QPainter painter(&frame);
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(450, 715, text);
        }
        for (int y = 0; y < 480; ++y) {
            const auto* from =
                reinterpret_cast<const uint32_t*>(frame.constScanLine(rows[size_t(y)]));
            auto* to = reinterpret_cast<uint32_t*>(out.scanLine(y));
            for (int x = 0; x < 640; ++x)
                to[x] = from[columns[size_t(x)]];
        }
        const std::string jpeg = Encode_Jpeg(out);
        const std::string path = folder.Path() + std::to_string(n++) + ".jpg";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, jpeg.data(), jpeg.size()));
        ::close(fd);
        if (!previous.isNull())
            benchmark::DoNotOptimize(Calc_Coef_Correl(View_Of(frame), View_Of(previous), false));
        previous = std::move(frame);
    }
}

void BM_Floor(benchmark::State& state) {
    Ready_Camera camera;
    Run_Floor(state, true, [&] { return camera.Grab_Frame(); });
}
void BM_Floor_No_Stamp(benchmark::State& state) {
    Ready_Camera camera;
    Run_Floor(state, false, [&] { return camera.Grab_Frame(); });
}

// Two frames of the whole-program benchmark's own camera stream (the moving
// ball of videotestsrc, 1280 x 720, JPEG of quality 85), taken in turn.
class Recorded_Stream {
public:
    Recorded_Stream() {
        for (const char* name : {"a_00.jpg", "a_01.jpg"}) {
            std::ifstream in(std::filesystem::path(VISTREL_TEST_DATA_DIR) / "replay" / name,
                             std::ios::binary);
            frames_.emplace_back(std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>());
        }
    }
    QImage Decode_Next() {
        const std::string& jpeg = frames_[next_++ % frames_.size()];
        return Decode_Mjpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size());
    }

private:
    std::vector<std::string> frames_;
    size_t next_ = 0;
};

// The floor of the whole program's work in bench/motion_compare.py, per
// tick: the camera's frame decoded, then a recorded picture's bare steps.
void BM_Floor_Program_Recording(benchmark::State& state) {
    Recorded_Stream stream;
    Run_Floor(state, true, [&] { return stream.Decode_Next(); });
}

// The same for the armed, calm case: the frame decoded and measured.
void BM_Floor_Program_Calm(benchmark::State& state) {
    Recorded_Stream stream;
    QImage previous = stream.Decode_Next();
    for (auto _ : state) {
        QImage frame = stream.Decode_Next();
        benchmark::DoNotOptimize(Calc_Coef_Correl(View_Of(frame), View_Of(previous), false));
        previous = std::move(frame);
    }
}

} // namespace

BENCHMARK(BM_Floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor_No_Stamp)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor_Program_Recording)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor_Program_Calm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Recording)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Recording_Paced)->UseManualTime()->Iterations(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Recording_No_Stamp)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_Stopped)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step_Live_View)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step_Live_View_Smooth_Whole)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step_Time_Stamp)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step_Stretch)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step_Encode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step_Write_Atomically)->Unit(benchmark::kMicrosecond);
// A fixed number of pictures: each one adds a file, and the untimed writes
// would otherwise make the run last minutes.
BENCHMARK(BM_Step_Destination)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(29999)
    ->Iterations(3000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step_Destination_Listing)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(29999)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step_Motion)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
