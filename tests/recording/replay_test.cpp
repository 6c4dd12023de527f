// Recorded camera frames through the real decoding, tick, picture writing and
// live-view scaling, compared with what the program made of the same frames
// when tests/data/replay/expected.txt was written. Work that makes the
// program cheaper must leave every picture byte, every measure and every
// shown pixel as they were.
//
// To record the figures again (only when a change of output is intended):
//   VISTREL_REPLAY_RECORD=1 build/tests/vistrel_replay_tests
#include "capture/gst_sample_converter.h"
#include "recording/recording_controller.h"
#include "recording/snapshot.h"
#include "ui/live_view.h"

#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

const fs::path kFrames = fs::path(VISTREL_TEST_DATA_DIR) / "replay";

uint64_t Fnv1a(const void* data, size_t size, uint64_t hash = 0xcbf29ce484222325ULL) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
    return hash;
}

std::string Hex(uint64_t value) {
    std::ostringstream out;
    out << std::hex << value;
    return out.str();
}

// The visible pixels only: the padding at the end of a line is nobody's.
std::string Image_Hash(const QImage& image) {
    if (image.isNull())
        return "null";
    const QImage rgb = image.format() == QImage::Format_RGB32
                           ? image
                           : image.convertToFormat(QImage::Format_RGB32);
    uint64_t hash = Fnv1a(nullptr, 0);
    for (int y = 0; y < rgb.height(); ++y)
        hash = Fnv1a(rgb.constScanLine(y), size_t(rgb.width()) * 4, hash);
    return std::to_string(rgb.width()) + "x" + std::to_string(rgb.height()) + ":" + Hex(hash);
}

std::string Bytes_Of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The camera as the program reads it: each recorded JPEG frame handed over
// as a GStreamer sample and turned into a frame by the program's converter.
class Recorded_Camera : public Frame_Source {
public:
    explicit Recorded_Camera(std::vector<fs::path> files) : files_(std::move(files)) {}
    void Open_Capture() noexcept override {}
    void Close_Capture() noexcept override {}
    QImage Grab_Frame() override {
        if (next_ >= files_.size())
            throw Capture_Error("no more recorded frames");
        const std::string bytes = Bytes_Of(files_[next_++]);
        GstBuffer* buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
        const gst::Caps_Ptr caps(gst_caps_from_string("image/jpeg"));
        const gst::Sample_Ptr sample(gst_sample_new(buffer, caps.get(), nullptr, nullptr));
        gst_buffer_unref(buffer);
        return converter_.Convert(sample.get());
    }
    // As the program's camera: each frame is made in the memory of the last.
    void Take_Back(QImage frame) noexcept override { converter_.Take_Back(std::move(frame)); }

private:
    std::vector<fs::path> files_;
    size_t next_ = 0;
    Gst_Sample_Converter converter_;
};

// What the window would have shown: the live picture scaled as the window
// scales it into its 280 x 210 box, and the newest thumbnail.
class Watching_View : public test::Fake_View {
public:
    void Show_Previews(const Preview_Strip& previews) override { newest = previews.At(0); }
    QImage newest;
};

struct Pass {
    const char* frames; // file name prefix in the replay folder
    bool continuous;    // "Rec" rather than armed for motion
    int jpeg_size_index;
    bool add_time_date;
    bool sensitivity_dark;
};

std::vector<fs::path> Frames(const char* prefix) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(kFrames))
        if (e.path().filename().string().rfind(prefix, 0) == 0 && e.path().extension() == ".jpg")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// One line per tick (measure, live view, thumbnail) and one per picture file.
std::vector<std::string> Replay(const Pass& pass, int index) {
    test::Temp_Dir dir;
    Watching_View view;
    view.settings = test::Recording_Settings(dir.Folder());
    view.settings.Delay_Start_ms = 0;
    view.settings.Delay_Stop_ms = 400;
    view.add_time_date = pass.add_time_date;
    view.jpeg_size_index = pass.jpeg_size_index;
    view.sensitivity_dark = pass.sensitivity_dark;
    std::vector<fs::path> files = Frames(pass.frames);
    // The last frame again: a camera slower than the sampling, a measure of 0.
    files.push_back(files.back());
    Recorded_Camera camera(files);
    test::Fake_Clock clock;
    Upload_List queue;
    Recording_Controller tick(view, camera, clock, queue, [] {});
    tick.Set_Stamp_Dpi(96);
    if (pass.continuous)
        tick.BTN_Start_Stop_RecClick();
    else
        tick.BTN_Start_Stop_Rec_DetectClick();

    std::vector<std::string> lines;
    const std::string name = "pass " + std::to_string(index) + " ";
    for (size_t t = 0; t < files.size(); ++t) {
        clock.ticks += 200;
        view.live = QImage();
        tick.TMR_Refresh_IMGTimer();
        lines.push_back(name + "tick " + std::to_string(t) + " " + view.detection + " gauge " +
                        std::to_string(view.gauge) + " live " +
                        Image_Hash(Scale_For_Display(view.live, {280, 210})) + " thumbnail " +
                        Image_Hash(view.newest));
    }
    std::vector<fs::path> pictures;
    for (const auto& e : fs::recursive_directory_iterator(dir.Path()))
        if (e.is_regular_file())
            pictures.push_back(e.path());
    std::sort(pictures.begin(), pictures.end());
    for (const fs::path& p : pictures) {
        const std::string bytes = Bytes_Of(p);
        lines.push_back(name + "picture " + fs::relative(p, dir.Path()).string() + " " +
                        std::to_string(bytes.size()) + " " +
                        Hex(Fnv1a(bytes.data(), bytes.size())));
    }
    return lines;
}

TEST(Replay, Recorded_Frames_Give_The_Same_Pictures_Measures_And_Live_View) {
    gst_init(nullptr, nullptr);
    const Pass passes[] = {
        {"a_", true, 0, true, false},  // the bench's work: 1280 x 720 in, stamped 640 x 480
        {"a_", false, 0, true, false}, // armed: motion starts and ends episodes
        {"a_", true, 2, false, false}, {"a_", true, 4, true, true},
        {"b_", true, 0, true, false},  // 640 x 480 in, the same size out
        {"b_", true, 3, false, false}, // enlarged
        {"b_", false, 1, true, true},
    };
    std::vector<std::string> lines;
    for (size_t i = 0; i < std::size(passes); ++i) {
        const std::vector<std::string> pass = Replay(passes[i], int(i));
        lines.insert(lines.end(), pass.begin(), pass.end());
    }
    const fs::path expected_file = kFrames / "expected.txt";
    if (std::getenv("VISTREL_REPLAY_RECORD") != nullptr) {
        std::ofstream out(expected_file);
        for (const std::string& line : lines)
            out << line << "\n";
        GTEST_SKIP() << "recorded " << lines.size() << " lines in " << expected_file;
    }
    std::vector<std::string> expected;
    std::ifstream in(expected_file);
    for (std::string line; std::getline(in, line);)
        expected.push_back(line);
    ASSERT_FALSE(expected.empty()) << expected_file << " is missing";
    const size_t common = std::min(lines.size(), expected.size());
    for (size_t i = 0; i < common; ++i)
        ASSERT_EQ(lines[i], expected[i]) << "first difference at line " << i + 1;
    EXPECT_EQ(lines.size(), expected.size());
}

} // namespace
} // namespace vistrel
