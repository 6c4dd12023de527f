#include "episodes/video_export.h"
#include "recording/snapshot.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

// A square that moves from picture to picture, so that no two frames are
// alike and an encoder dropping repeats would show.
QImage Moving_Square(int width, int height, int index) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(QColor(30, 90, 160));
    const int side = height / 4;
    const int left = (index * 13) % (width - side);
    for (int y = height / 3; y < height / 3 + side; ++y)
        for (int x = left; x < left + side; ++x)
            picture.setPixel(x, y, qRgb(240, 200, 40));
    return picture;
}

void Write_File(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::vector<std::string> Write_Pictures(const fs::path& folder, const std::vector<QSize>& sizes) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const fs::path path = folder / ("I_10_00_00__" + std::to_string(10000 + i) + ".jpg");
        Write_File(path, Encode_Jpeg(Moving_Square(sizes[i].width(), sizes[i].height(),
                                                   static_cast<int>(i))));
        paths.push_back(path.string());
    }
    return paths;
}

std::vector<int64_t> Every_Ms(size_t count, int64_t step) {
    std::vector<int64_t> times;
    for (size_t i = 0; i < count; ++i)
        times.push_back(1'000'000 + static_cast<int64_t>(i) * step);
    return times;
}

std::set<std::string> Files_In(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

struct Read_Back {
    int frames = 0;
    int width = 0;
    int height = 0;
    std::vector<int64_t> pts_ms;
    int64_t duration_ms = -1;
};

// The WebM file decoded again, frame by frame.
Read_Back Read_Webm(const std::string& path) {
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        "filesrc name=file ! matroskademux ! vp8dec ! appsink name=sink sync=false", &error);
    EXPECT_EQ(error, nullptr);
    if (error != nullptr)
        g_error_free(error);
    GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
    g_object_set(file, "location", path.c_str(), nullptr);
    gst_object_unref(file);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    Read_Back result;
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND);
    gint64 duration = -1;
    if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration))
        result.duration_ms = duration / GST_MSECOND;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        ++result.frames;
        const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        gst_structure_get_int(caps, "width", &result.width);
        gst_structure_get_int(caps, "height", &result.height);
        result.pts_ms.push_back(
            static_cast<int64_t>(GST_BUFFER_PTS(gst_sample_get_buffer(sample)) / GST_MSECOND));
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return result;
}

class Video_Export : public ::testing::Test {
protected:
    QTemporaryDir root_;
    fs::path pictures_ = fs::path(root_.path().toStdString()) / "D0004";
    fs::path videos_ = fs::path(root_.path().toStdString()) / "Videos";
    std::atomic<bool> cancel_{false};

    void SetUp() override {
        fs::create_directories(pictures_);
        fs::create_directories(videos_);
    }
    std::string Out() const { return (videos_ / "episode.webm").string(); }
};

struct Pace_Case {
    const char* name;
    std::vector<int64_t> times_ms;
    int64_t duration_ms;
};

TEST_F(Video_Export, every_picture_is_one_frame_of_the_pictures_size_at_its_own_pace) {
    const std::vector<Pace_Case> cases = {
        {"steady", Every_Ms(12, 200), 12 * 200},
        // The last picture lasts the median gap, 100 ms.
        {"uneven", {5000, 5100, 5200, 6500, 6600}, 1600 + 100},
    };
    for (const Pace_Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(pictures_);
        fs::create_directories(pictures_);
        const auto paths =
            Write_Pictures(pictures_, std::vector<QSize>(c.times_ms.size(), QSize(320, 240)));
        const Export_Result result = Export_Webm(paths, c.times_ms, Out(), {}, cancel_);
        ASSERT_EQ(result.outcome, Export_Outcome::Done) << result.error;
        EXPECT_EQ(Files_In(videos_), std::set<std::string>{"episode.webm"});
        const Read_Back video = Read_Webm(Out());
        EXPECT_EQ(video.frames, static_cast<int>(c.times_ms.size()));
        EXPECT_EQ(video.width, 320);
        EXPECT_EQ(video.height, 240);
        ASSERT_EQ(video.pts_ms.size(), c.times_ms.size());
        for (size_t i = 0; i < c.times_ms.size(); ++i)
            EXPECT_NEAR(video.pts_ms[i], c.times_ms[i] - c.times_ms[0], 2) << "frame " << i;
        // Within half a picture: a last picture shown for no time at all
        // would be a whole one short.
        const int64_t one_frame = c.duration_ms / static_cast<int64_t>(c.times_ms.size());
        EXPECT_NEAR(video.duration_ms, c.duration_ms, one_frame / 2) << "one frame " << one_frame;
    }
}

TEST_F(Video_Export, pictures_of_another_size_are_scaled_to_the_first_ones) {
    const auto paths =
        Write_Pictures(pictures_, {QSize(320, 240), QSize(160, 120), QSize(640, 480)});
    const Export_Result result = Export_Webm(paths, Every_Ms(3, 200), Out(), {}, cancel_);
    ASSERT_EQ(result.outcome, Export_Outcome::Done) << result.error;
    const Read_Back video = Read_Webm(Out());
    EXPECT_EQ(video.frames, 3);
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 240);
}

TEST_F(Video_Export, progress_counts_every_picture_up_to_the_total) {
    const auto paths = Write_Pictures(pictures_, std::vector<QSize>(6, QSize(160, 120)));
    std::vector<std::pair<size_t, size_t>> seen;
    const Export_Result result = Export_Webm(
        paths, Every_Ms(6, 200), Out(),
        [&](size_t done, size_t total) { seen.emplace_back(done, total); }, cancel_);
    ASSERT_EQ(result.outcome, Export_Outcome::Done) << result.error;
    ASSERT_EQ(seen.size(), 6u);
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], std::make_pair(i + 1, size_t{6}));
}

TEST_F(Video_Export, cancelled_half_way_leaves_nothing_beside_the_chosen_name) {
    const auto paths = Write_Pictures(pictures_, std::vector<QSize>(12, QSize(320, 240)));
    const Export_Result result = Export_Webm(
        paths, Every_Ms(12, 200), Out(),
        [&](size_t done, size_t) {
            if (done == 5)
                cancel_ = true;
        },
        cancel_);
    EXPECT_EQ(result.outcome, Export_Outcome::Cancelled);
    EXPECT_TRUE(Files_In(videos_).empty());
}

TEST_F(Video_Export, a_damaged_picture_is_left_out_and_the_others_keep_their_times) {
    auto paths = Write_Pictures(pictures_, std::vector<QSize>(4, QSize(160, 120)));
    const fs::path garbage = pictures_ / "I_10_00_01__00099.jpg";
    Write_File(garbage, std::string(5000, 'x'));
    paths.insert(paths.begin() + 2, garbage.string());
    const Export_Result result = Export_Webm(paths, Every_Ms(5, 200), Out(), {}, cancel_);
    ASSERT_EQ(result.outcome, Export_Outcome::Done) << result.error;
    EXPECT_EQ(result.skipped, 1u);
    const Read_Back video = Read_Webm(Out());
    EXPECT_EQ(video.pts_ms, (std::vector<int64_t>{0, 200, 600, 800}));
}

TEST_F(Video_Export, failures_are_told_in_words_and_leave_no_file) {
    auto paths = Write_Pictures(pictures_, std::vector<QSize>(4, QSize(160, 120)));
    auto missing = paths;
    missing.push_back((pictures_ / "I_10_00_02__00100.jpg").string());
    auto missing_first = paths;
    missing_first.insert(missing_first.begin(), missing.back());
    Write_File(videos_ / "a file", "");

    struct Case {
        const char* name;
        std::vector<std::string> paths;
        fs::path out;
    };
    const std::vector<Case> cases = {
        {"a picture deleted meanwhile", missing, videos_ / "episode.webm"},
        {"the first picture deleted", missing_first, videos_ / "episode.webm"},
        {"a folder that is not there", paths, videos_ / "gone" / "episode.webm"},
        {"a file where the folder should be", paths, videos_ / "a file" / "episode.webm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Export_Result result =
            Export_Webm(c.paths, Every_Ms(c.paths.size(), 200), c.out.string(), {}, cancel_);
        EXPECT_EQ(result.outcome, Export_Outcome::Failed);
        EXPECT_FALSE(result.error.empty());
        EXPECT_EQ(Files_In(videos_), std::set<std::string>{"a file"});
    }
}

TEST_F(Video_Export, a_folder_without_write_permission_gives_an_error) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes in any folder";
    const auto paths = Write_Pictures(pictures_, std::vector<QSize>(2, QSize(160, 120)));
    chmod(videos_.c_str(), 0500);
    const Export_Result result = Export_Webm(paths, Every_Ms(2, 200), Out(), {}, cancel_);
    chmod(videos_.c_str(), 0700);
    EXPECT_EQ(result.outcome, Export_Outcome::Failed);
    EXPECT_NE(result.error.find("Videos"), std::string::npos) << result.error;
    EXPECT_TRUE(Files_In(videos_).empty());
}

TEST_F(Video_Export, a_job_runs_on_its_own_thread_and_is_cancelled_when_destroyed) {
    const auto paths = Write_Pictures(pictures_, std::vector<QSize>(40, QSize(320, 240)));
    std::atomic<int> calls{0};
    std::thread::id done_on;
    Export_Result last;
    auto done = [&](const Export_Result& result) {
        done_on = std::this_thread::get_id();
        last = result;
        ++calls;
    };
    { Video_Export_Job job(paths, Every_Ms(40, 200), Out(), {}, done); }
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(last.outcome, Export_Outcome::Cancelled);
    EXPECT_NE(done_on, std::this_thread::get_id());
    EXPECT_TRUE(Files_In(videos_).empty());

    {
        Video_Export_Job job(paths, Every_Ms(40, 200), Out(), {}, done);
        while (calls < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(last.outcome, Export_Outcome::Done) << last.error;
    EXPECT_EQ(Read_Webm(Out()).frames, 40);
}

TEST(Picture_Times, names_give_times_spread_evenly_over_their_second) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::vector<int64_t> times_ms;
    };
    const int64_t ten = 10 * 3600 * 1000;
    const std::vector<Case> cases = {
        {"three in one second",
         {"I_10_00_00__00001.jpg", "I_10_00_00__00002.jpg", "I_10_00_00__00003.jpg",
          "I_10_00_01__00004.jpg"},
         {ten, ten + 333, ten + 666, ten + 1000}},
        {"past midnight",
         {"I_23_59_59__00001.jpg", "I_00_00_00__00002.jpg", "I_00_00_02__00003.jpg"},
         {86'399'000, 86'400'000, 86'402'000}},
        {"a name that does not parse shares the second before",
         {"I_10_00_00__00001.jpg", "notes.jpg", "I_10_00_05__00002.jpg"},
         {ten, ten + 500, ten + 5000}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Picture_Times_Ms(c.files), c.times_ms) << c.name;
}

TEST(Picture_Times, the_last_picture_lasts_the_median_gap) {
    struct Case {
        std::vector<int64_t> times_ms;
        std::vector<int64_t> durations_ms;
    };
    const std::vector<Case> cases = {
        {{0, 200, 400, 1400}, {200, 200, 1000, 200}},
        {{0, 100, 1100, 1200, 5200}, {100, 1000, 100, 4000, 1000}},
        {{7000}, {1000}},
        {{0, 0, 300}, {1, 300, 300}},
        {{}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Picture_Durations_Ms(c.times_ms), c.durations_ms);
}

TEST(Default_Export_Name, is_made_of_the_day_and_the_episode) {
    struct Case {
        const char* day;
        const char* episode;
        const char* name;
    };
    const Case cases[] = {
        {"RIDEV_2026_12_10", "D0004", "Vistrel_2026_12_10_D0004.webm"},
        {"RIDEV_2026_01_02/", "R0012/", "Vistrel_2026_01_02_R0012.webm"},
        {"holiday", "D0004", "Vistrel_D0004.webm"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Default_Export_Name(c.day, c.episode), c.name) << c.day;
}

} // namespace
} // namespace vistrel
