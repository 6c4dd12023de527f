// Recording while the destination folder vanishes, cannot be written or the
// disk is full, then comes back. The ticks that cannot write fail quietly and
// the sampling goes on; once the folder is back recording resumes by itself;
// and whatever happened, the folder holds only whole pictures: no file cut
// short, no temporary file of the writer left behind.
#include "recording/recording_controller.h"

#include "support/jpeg_reader.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

const QSize kPicture_Size{640, 480}; // what the view's default size index gives

// A textured frame, different for each n, whose picture is a few tens of
// kilobytes: larger than any write the disk-full case lets through.
QImage Frame(int n) {
    QImage frame(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const int v = (x * 7 + y * 13 + (x * y) % 17 + n * 31) % 256;
            frame.setPixel(x, y, qRgb(v, (v * 3) % 256, 255 - v));
        }
    return frame;
}

// Checks every file under `root` and returns how many pictures it found:
// each must be a JPEG that decodes to its last row, and nothing else may be
// there, in particular no temporary of the writer ("name.jpg.vistrel-tmp-XXXXXX").
size_t Expect_Only_Whole_Pictures(const fs::path& root, QSize size) {
    size_t pictures = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        if (entry.path().extension() != ".jpg") {
            ADD_FAILURE() << "left behind: " << entry.path();
            continue;
        }
        ++pictures;
        try {
            const test::Decoded_Jpeg decoded = test::Decode_Jpeg(test::Bytes_Of(entry.path()));
            EXPECT_EQ(decoded.warnings, 0) << "damaged: " << entry.path();
            EXPECT_EQ(QSize(decoded.width, decoded.height), size) << entry.path();
        } catch (const std::exception& e) {
            ADD_FAILURE() << entry.path() << ": " << e.what();
        }
    }
    return pictures;
}

class Recording_On_Disk : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    test::Fake_View view;
    test::Fake_Camera camera;
    test::Fake_Clock clock;
    Upload_List files;
    Recording_Controller tick{view, camera, clock, files, nullptr};
    fs::path dest;
    int frames = 0;

    void SetUp() override {
        dest = dir.Path() / "pictures";
        view.settings = test::Recording_Settings(dest.string() + "/");
        tick.Set_Stamp_Dpi(96);
        tick.BTN_Start_Stop_RecClick();
    }

    // One tick on a new frame; returns the frame.
    QImage Tick() {
        const QImage frame = Frame(frames++);
        camera.frames.push_back(frame);
        clock.ticks += 200;
        tick.TMR_Refresh_IMGTimer();
        return frame;
    }

    size_t Listed() const { return files.Snapshot().size(); }
};

// A fault of the destination and its end. The first pictures lie in
// <destination>/RIDEV_2026_12_08/R0001.
struct Disk_Fault {
    const char* name;
    // The fault takes the pictures already written with it; the program makes
    // its folders again at once, so recording never stops.
    bool removes_folder;
    bool needs_non_root; // root writes wherever it likes
    // What the window is told while pictures cannot be saved; none when
    // recording never stops.
    const char* reason;
    std::function<void(const fs::path& dest)> inflict;
    std::function<void(const fs::path& dest)> mend;
};

void PrintTo(const Disk_Fault& fault, std::ostream* os) {
    *os << fault.name;
}

// A regular file in the place of a folder: nothing can be made or written
// below it, whoever the program runs as. The folder waits beside it.
Disk_Fault File_In_Place_Of(const char* name, const std::string& below_dest) {
    const auto folder = [below_dest](const fs::path& dest) {
        return below_dest.empty() ? dest : dest / below_dest;
    };
    return {name,
            false,
            false,
            "a file is in the way of the folder",
            [folder](const fs::path& dest) {
                fs::rename(folder(dest), folder(dest).string() + ".away");
                std::ofstream(folder(dest)) << "not a folder";
            },
            [folder](const fs::path& dest) {
                fs::remove(folder(dest));
                fs::rename(folder(dest).string() + ".away", folder(dest));
            }};
}

void Set_Folder_Modes(const fs::path& dest, fs::perms perms) {
    for (const fs::path& folder :
         {dest, dest / "RIDEV_2026_12_08", dest / "RIDEV_2026_12_08/R0001"})
        fs::permissions(folder, perms);
}

// Writes beyond the limit fail with EFBIG, as they would on a full disk,
// after the bytes below it went through.
constexpr rlim_t kFull_After = 4096;
rlimit saved_file_size_limit;
void (*saved_xfsz_handler)(int) = SIG_DFL;

const Disk_Fault kDisk_Faults[] = {
    {"Destination_Removed", true, false, nullptr,
     [](const fs::path& dest) { fs::remove_all(dest); }, [](const fs::path&) {}},
    File_In_Place_Of("Destination_Replaced_By_A_File", ""),
    File_In_Place_Of("Day_Folder_Replaced_By_A_File", "RIDEV_2026_12_08"),
    File_In_Place_Of("Episode_Folder_Replaced_By_A_File", "RIDEV_2026_12_08/R0001"),
    {"Disk_Full", false, false, "the disk is full",
     [](const fs::path&) {
         ::getrlimit(RLIMIT_FSIZE, &saved_file_size_limit);
         // Otherwise the signal of the refused write would end the test.
         saved_xfsz_handler = std::signal(SIGXFSZ, SIG_IGN);
         rlimit full = saved_file_size_limit;
         full.rlim_cur = kFull_After;
         ::setrlimit(RLIMIT_FSIZE, &full);
     },
     [](const fs::path&) {
         ::setrlimit(RLIMIT_FSIZE, &saved_file_size_limit);
         std::signal(SIGXFSZ, saved_xfsz_handler);
     }},
    {"Folders_Read_Only", false, true, "the folder cannot be written",
     [](const fs::path& dest) {
         Set_Folder_Modes(dest, fs::perms::owner_read | fs::perms::owner_exec);
     },
     [](const fs::path& dest) { Set_Folder_Modes(dest, fs::perms::owner_all); }},
};

class Disk_Faults : public Recording_On_Disk, public ::testing::WithParamInterface<Disk_Fault> {};

TEST_P(Disk_Faults, Ticks_Fail_Quietly_And_Recording_Resumes_With_Only_Whole_Pictures) {
    const Disk_Fault& fault = GetParam();
    if (fault.needs_non_root && ::geteuid() == 0)
        GTEST_SKIP() << "root can write to read-only folders";
    for (int k = 0; k < 3; ++k)
        Tick();
    ASSERT_EQ(Listed(), 3u);

    fault.inflict(dest);
    struct Mender {
        const Disk_Fault& fault;
        const fs::path& dest;
        bool mended = false;
        void Mend() {
            if (!std::exchange(mended, true))
                fault.mend(dest);
        }
        ~Mender() { Mend(); } // a failed assertion must not leave the process crippled
    } mender{fault, dest};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const int reads_before = view.read_parameters_calls;
        const QImage frame = Tick();
        // The tick still samples the camera and shows the frame.
        EXPECT_EQ(view.read_parameters_calls, reads_before + 1);
        EXPECT_TRUE(camera.frames.empty());
        EXPECT_EQ(view.live.cacheKey(), frame.cacheKey());
        EXPECT_TRUE(tick.State().Rec_Continuous);
        // Only a picture on the disk is handed to the upload.
        EXPECT_EQ(Listed(), fault.removes_folder ? 4u + k : 3u);
        // And the window says so from the first tick that could not save.
        EXPECT_EQ(view.save_problem, fault.reason ? std::string("Pictures are not being saved: ") +
                                                        fault.reason + " (" + dest.string() + ")"
                                                  : std::string());
    }
    mender.Mend();

    const size_t listed = Listed();
    for (int k = 0; k < 3; ++k)
        Tick();
    const std::vector<TFichier> entries = files.Snapshot();
    ASSERT_EQ(entries.size(), listed + 3) << "recording did not resume";
    for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(fs::exists(entries[i].Path), !(fault.removes_folder && i < 3)) << entries[i].Path;
    // Three before the fault (or, removed, three during it) and three after.
    EXPECT_EQ(Expect_Only_Whole_Pictures(dir.Path(), kPicture_Size), 6u);
    // Told once, taken back at the first picture saved again.
    EXPECT_EQ(view.save_problem, "");
    EXPECT_EQ(view.save_problem_changes.size(), fault.reason ? 2u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, Disk_Faults, ::testing::ValuesIn(kDisk_Faults),
                         [](const ::testing::TestParamInfo<Disk_Fault>& info) {
                             return std::string(info.param.name);
                         });

// Removal can strike between any two steps of writing a picture: making the
// folders, creating the temporary, writing it, renaming it into place.
TEST_F(Recording_On_Disk, A_Destination_Removed_Over_And_Over_Leaves_Only_Whole_Pictures) {
    view.jpeg_size_index = 2; // small pictures: many ticks, many chances to be cut
    std::atomic<bool> stop{false};
    std::thread remover([&] {
        while (!stop) {
            std::error_code ec;
            fs::remove_all(dest, ec);
            std::this_thread::yield();
        }
    });
    for (int k = 0; k < 200; ++k)
        Tick();
    stop = true;
    remover.join();

    const size_t listed = Listed();
    for (int k = 0; k < 3; ++k)
        Tick();
    EXPECT_EQ(Listed(), listed + 3) << "recording did not resume";
    EXPECT_GE(Expect_Only_Whole_Pictures(dir.Path(), QSize(160, 120)), 3u);
}

} // namespace
} // namespace vistrel
