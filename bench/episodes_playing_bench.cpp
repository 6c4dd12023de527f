// The sampling tick on the event loop while the Episodes window plays a
// 640 x 480 episode taken at 200 ms at 16x (80 pictures a second), against
// the window closed: the tick's own time and how late it starts, and what the
// viewer managed to show. bench/report.py runs both cases:
//   ./build-release/bench/vistrel_bench_episodes_playing closed|playing [seconds]
// Prints one JSON line. The tick records continuously from a 1280 x 720
// camera into the same destination the window reads, as in the program.
#include "recording/recording_controller.h"
#include "recording/snapshot.h"
#include "tick_fixtures.h"
#include "ui/episode_player.h"
#include "ui/episode_rows.h"
#include "ui/episodes_window.h"
#include "upload/upload_list.h"

#include "ui_UF_Episodes.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace vistrel;
using namespace vistrel::bench;
using Steady = std::chrono::steady_clock;

constexpr int kPeriod_Ms = 200;
constexpr int kPictures = 300;
constexpr int kPer_Second = 1000 / kPeriod_Ms;
const std::string kDay = "RIDEV_2026_12_10";
const std::string kEpisode = "D0001";

// A camera's grain and something that moves: a smooth picture alone decodes
// faster than one taken, and the same picture over and over would be cached
// nowhere but would not look like an episode either.
QImage Varied_Picture(int i, std::mt19937& random) {
    QImage picture = Scene(640, 480, i * 7);
    std::uniform_int_distribution<int> grain(-6, 6);
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const int g = grain(random);
            row[x] =
                qRgb(std::clamp(qRed(row[x]) + g, 0, 255), std::clamp(qGreen(row[x]) + g, 0, 255),
                     std::clamp(qBlue(row[x]) + g, 0, 255));
        }
    }
    QPainter painter(&picture);
    painter.fillRect((i * 11) % 560, 120 + (i * 3) % 240, 80, 120, QColor(150, 40, 30));
    return picture;
}

// Five pictures a second from 10:00:00; the names carry the second only.
void Write_Episode(const std::string& dest) {
    const std::string folder = dest + kDay + "/" + kEpisode + "/";
    std::filesystem::create_directories(folder);
    std::mt19937 random(7);
    for (int i = 0; i < kPictures; ++i) {
        const int second = i / kPer_Second;
        char name[32];
        std::snprintf(name, sizeof name, "I_10_%02d_%02d__%05d.jpg", second / 60, second % 60,
                      i + 1);
        std::ofstream(folder + name, std::ios::binary) << Encode_Jpeg(Varied_Picture(i, random));
    }
}

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(fraction * double(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

// Each tick's own time, and its start against the one before plus the period.
// The first tick makes the day and episode folders and lays out the stamp's
// font: left out of both cases.
class Tick_Timing {
public:
    void Run(Recording_Controller& tick) {
        const Steady::time_point start = Steady::now();
        if (previous_ != Steady::time_point())
            lateness_.push_back(Ms(start - previous_) - kPeriod_Ms);
        tick.TMR_Refresh_IMGTimer();
        if (previous_ != Steady::time_point())
            durations_.push_back(Ms(Steady::now() - start));
        previous_ = start;
    }
    const std::vector<double>& Durations() const { return durations_; }
    const std::vector<double>& Lateness() const { return lateness_; }

private:
    Steady::time_point previous_;
    std::vector<double> durations_;
    std::vector<double> lateness_;
};

// What the viewer showed, played again from the start each time it ends.
class Play_Watch {
public:
    explicit Play_Watch(TF_Episodes& window) : window_(window) {
        QObject::connect(&window.Player(), &Episode_Player::Shown, &window,
                         [this](int index) { Shown(index); });
    }
    void Start() {
        window_.Form().CMB_Speed->setCurrentIndex(2);
        window_.Form().BTN_Play->click();
        start_ = Steady::now();
    }
    void Stop() {
        seconds_ = std::chrono::duration<double>(Steady::now() - start_).count();
        passed_over_ += window_.Player().Skipped();
        window_.Player().Pause();
    }
    int Shown_Count() const { return shown_; }
    int Passed_Over() const { return passed_over_; }
    int Skipping_Labels() const { return skipping_labels_; }
    int Skip_Events() const { return skip_events_; }
    int Plays() const { return plays_; }
    double Seconds() const { return seconds_; }

private:
    void Shown(int index) {
        ++shown_;
        // The label keeps its count until the next play: every picture after
        // the first pass-over says "skipping", and only a rise is a new one.
        if (window_.Form().LBL_Picture->text().contains(QStringLiteral("skipping")))
            ++skipping_labels_;
        const int skipped = window_.Player().Skipped();
        if (skipped > last_skipped_)
            ++skip_events_;
        last_skipped_ = skipped;
        if (index < int(window_.Player().Count()) - 1)
            return;
        // The player stops at the end after this signal: again once it has.
        QTimer::singleShot(0, &window_, [this] {
            passed_over_ += window_.Player().Skipped();
            ++plays_;
            window_.Player().Play();
            last_skipped_ = 0; // Play starts the count again
        });
    }

    TF_Episodes& window_;
    Steady::time_point start_;
    double seconds_ = 0;
    int shown_ = 0;
    int passed_over_ = 0;
    int skipping_labels_ = 0;
    int skip_events_ = 0;
    int last_skipped_ = 0;
    int plays_ = 1;
};

Episodes_Hooks Hooks(const std::string& dest, Upload_List& files, Recording_Controller& tick) {
    Episodes_Hooks hooks;
    hooks.dest_folder = dest;
    hooks.queue = &files;
    hooks.refused_file = dest + "upload_refused";
    hooks.current_episode = [&tick] { return tick.Last_Episode_Folder(); };
    return hooks;
}

int Run(bool playing, int seconds) {
    Folder folder;
    const std::string dest = folder.Path();
    Write_Episode(dest);

    Null_View view;
    view.settings.Dest_Folder = dest;
    view.settings.Max_Files = 200;
    view.settings.Threshold = 5;
    Ready_Camera camera;
    Steady_Clock clock; // its date is not the episode's: a day of its own
    Upload_List files;
    Recording_Controller tick(view, camera, clock, files, nullptr);
    tick.Set_Stamp_Dpi(96);
    tick.BTN_Start_Stop_RecClick();

    std::unique_ptr<TF_Episodes> window;
    std::unique_ptr<Play_Watch> watch;
    if (playing) {
        window = std::make_unique<TF_Episodes>(Hooks(dest, files, tick));
        window->show();
        // The newest day and its newest episode are chosen on opening.
        if (window->Player().Count() != size_t(kPictures)) {
            std::fprintf(stderr, "the episode was not loaded: %zu pictures\n",
                         window->Player().Count());
            return 1;
        }
        watch = std::make_unique<Play_Watch>(*window);
        watch->Start();
    }

    Tick_Timing timing;
    QTimer sampling; // the program's own timer: coarse, on the GUI thread
    sampling.setInterval(kPeriod_Ms);
    QObject::connect(&sampling, &QTimer::timeout, [&] { timing.Run(tick); });
    sampling.start();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    qApp->exec();
    sampling.stop();

    std::string viewer;
    if (watch) {
        watch->Stop();
        char text[256];
        std::snprintf(text, sizeof text,
                      ", \"shown_per_second\": %.1f, \"passed_over\": %d, "
                      "\"skip_events\": %d, \"skipping_labels\": %d, \"shown\": %d, "
                      "\"plays\": %d",
                      watch->Shown_Count() / watch->Seconds(), watch->Passed_Over(),
                      watch->Skip_Events(), watch->Skipping_Labels(), watch->Shown_Count(),
                      watch->Plays());
        viewer = text;
        window->close();
    }
    std::printf("{\"case\": \"%s\", \"ticks\": %zu, \"tick_median_ms\": %.3f, "
                "\"tick_p99_ms\": %.3f, \"late_median_ms\": %.3f, \"late_p99_ms\": %.3f, "
                "\"pictures_recorded\": %zu%s}\n",
                playing ? "playing" : "closed", timing.Durations().size(),
                Percentile(timing.Durations(), 0.5), Percentile(timing.Durations(), 0.99),
                Percentile(timing.Lateness(), 0.5), Percentile(timing.Lateness(), 0.99),
                files.Snapshot().size(), viewer.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A memory file system keeps the disk's noise out of the tick's figures.
    if (std::filesystem::is_directory("/dev/shm"))
        ::setenv("TMPDIR", "/dev/shm", 0);
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(vistrel);
    const bool playing = argc > 1 && std::strcmp(argv[1], "playing") == 0;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    return Run(playing, seconds);
}
