// Recording onto a small disk of its own: a tmpfs mounted for each test, so
// that "full" is the kernel's ENOSPC and the free space is what statvfs says.
// Mounting needs root; elsewhere these tests are skipped.
#include "recording/recording_controller.h"
#include "recording/storage_keeper.h"

#include "support/recording_fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <unordered_set>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

class Small_Disk {
public:
    explicit Small_Disk(const fs::path& where, const char* size) : path_(where) {
        fs::create_directories(path_);
        const std::string options = std::string("size=") + size + ",mode=0755";
        mounted_ =
            ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~Small_Disk() {
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
    }
    Small_Disk(const Small_Disk&) = delete;
    Small_Disk& operator=(const Small_Disk&) = delete;

    bool Mounted() const { return mounted_; }
    uint64_t Size() const {
        struct statvfs info {};
        ::statvfs(path_.c_str(), &info);
        return static_cast<uint64_t>(info.f_blocks) * info.f_frsize;
    }

private:
    fs::path path_;
    bool mounted_ = false;
};

class Recording_On_A_Small_Disk : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Small_Disk disk{dir.Path() / "disk", "1m"};
    fs::path dest = dir.Path() / "disk" / "cam";
    test::Fake_View view;
    test::Fake_Camera camera;
    test::Fake_Clock clock;
    Upload_List files;
    Recording_Controller tick{view, camera, clock, files, nullptr};
    int frames = 0;

    void SetUp() override {
        if (!disk.Mounted())
            GTEST_SKIP() << "mounting a tmpfs needs root";
        view.settings = test::Recording_Settings(dest.string() + "/");
        view.jpeg_size_index = 2; // 160 x 120: many pictures on a small disk
        tick.Set_Stamp_Dpi(96);
        tick.BTN_Start_Stop_RecClick();
    }

    void Tick() {
        QImage frame = test::Texture(frames % 3);
        frame.setPixel(frames % 320, 0, qRgb(frames % 256, 0, 0));
        ++frames;
        camera.frames.push_back(frame);
        clock.ticks += 200;
        // A new second every five ticks, as at 200 ms.
        clock.now.second = (frames / 5) % 60;
        clock.now.minute = 5 + (frames / 300) % 50;
        tick.TMR_Refresh_IMGTimer();
    }
};

TEST_F(Recording_On_A_Small_Disk, A_Full_Disk_Is_Said_At_Once_And_Taken_Back_At_The_Next_Picture) {
    Tick();
    ASSERT_EQ(files.Snapshot().size(), 1u);
    {
        std::ofstream filler(dir.Path() / "disk" / "filler");
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size()))
            filler.flush();
    }
    for (int k = 0; k < 3; ++k) {
        Tick();
        EXPECT_EQ(view.save_problem,
                  "Pictures are not being saved: the disk is full (" + dest.string() + ")");
    }
    EXPECT_EQ(files.Snapshot().size(), 1u) << "a picture not on the disk was queued";
    EXPECT_EQ(view.rec_caption, "Recording in progress ...") << "the tick's own indicators changed";

    fs::remove(dir.Path() / "disk" / "filler");
    Tick();
    EXPECT_EQ(view.save_problem, "");
    EXPECT_EQ(files.Snapshot().size(), 2u);
    const std::vector<std::string> told = {
        "Pictures are not being saved: the disk is full (" + dest.string() + ")", ""};
    EXPECT_EQ(view.save_problem_changes, told);
}

TEST_F(Recording_On_A_Small_Disk,
       Keeps_Recording_For_Ten_Times_The_Disks_Size_Keeping_What_It_Must) {
    view.settings.Max_Files = 40;
    view.settings.Use_FTP = true;
    Keeper_Inputs inputs;
    inputs.dest_folder = view.settings.Dest_Folder;
    inputs.keep_free_bytes = 256 * 1024;
    inputs.fixed_picture = view.settings.Dest_Folder + "Img_.jpg";
    Keeper_Hooks hooks;
    hooks.queued_pictures = [this] {
        std::unordered_set<std::string> queued;
        std::optional<Upload_List::Entry_Id> from = 0;
        while (from)
            from = files.Visit_Unfinished(
                *from, 100, [&](uint64_t, const TFichier& f) { queued.insert(f.Path); });
        return queued;
    };

    // The first ten pictures stay stuck in the upload; every later one is
    // sent at once.
    std::vector<std::string> recorded; // in recording order
    std::set<std::string> stuck;
    uint64_t written = 0;
    std::string user_file;
    while (written < 10 * disk.Size()) {
        Tick();
        ASSERT_EQ(view.save_problem, "") << "after " << written << " bytes";
        const auto taken = files.Take_First_Unsent();
        ASSERT_TRUE(taken);
        recorded.push_back(taken->entry.Path);
        written += fs::file_size(taken->entry.Path);
        if (stuck.size() < 10)
            stuck.insert(taken->entry.Path); // taken, never finished
        else
            files.Finish(taken->id);
        if (user_file.empty()) {
            user_file = (fs::path(taken->entry.Path).parent_path() / "my notes.txt").string();
            std::ofstream(user_file) << "mine";
        }
        inputs.current_episode = tick.Last_Episode_Folder();
        Keep_Free_Space([&] { return inputs; }, hooks);
    }
    ASSERT_GT(tick.State().Num_Folder_R, 10) << "too few episodes to tell the oldest";

    EXPECT_TRUE(fs::exists(user_file));
    for (const std::string& path : stuck)
        EXPECT_TRUE(fs::exists(path)) << "still queued: " << path;
    // The oldest went first: once one picture is kept, every later one is.
    size_t first_kept = recorded.size();
    for (size_t i = 0; i < recorded.size(); ++i)
        if (!stuck.count(recorded[i]) && fs::exists(recorded[i])) {
            first_kept = i;
            break;
        }
    for (size_t i = first_kept; i < recorded.size(); ++i)
        EXPECT_TRUE(fs::exists(recorded[i])) << "a newer picture went first: " << recorded[i];
    EXPECT_GT(first_kept, stuck.size()) << "nothing was deleted";
    // The episode being recorded is whole.
    for (const std::string& path : recorded)
        if (path.rfind(tick.Last_Episode_Folder(), 0) == 0) {
            EXPECT_TRUE(fs::exists(path)) << path;
        }
}

// The keeper on a real file system: the free space statvfs gives, syncfs, and
// the same folders named through a bind mount.
class Keeper_On_A_Small_Disk : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Small_Disk disk{dir.Path() / "disk", "1m"};
    std::string dest = (dir.Path() / "disk" / "cam").string() + "/";
    fs::path bound = dir.Path() / "bound";
    bool bind_mounted = false;

    void SetUp() override {
        if (!disk.Mounted())
            GTEST_SKIP() << "mounting a tmpfs needs root";
        // Thirty pictures of 20 KB in three episodes: 600 KB of the 1 MB.
        for (int e = 1; e <= 3; ++e)
            for (int i = 0; i < 10; ++i) {
                const fs::path path = Picture(e, i);
                fs::create_directories(path.parent_path());
                std::ofstream(path) << std::string(20000, 'p');
            }
        fs::create_directories(bound);
        bind_mounted = ::mount(dest.c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) == 0;
        ASSERT_TRUE(bind_mounted);
    }
    void TearDown() override {
        if (bind_mounted)
            ::umount2(bound.c_str(), MNT_DETACH);
    }
    // Under `base`: the destination itself, or the bind mount of it.
    static fs::path Picture(int episode, int i, const std::string& base) {
        return fs::path(base) / "RIDEV_2026_12_01" / ("D000" + std::to_string(episode)) /
               ("I_10_00_0" + std::to_string(episode) + "__" + std::to_string(10000 + i) + ".jpg");
    }
    fs::path Picture(int episode, int i) const { return Picture(episode, i, dest); }
    size_t Left(int episode) const {
        size_t left = 0;
        for (int i = 0; i < 10; ++i)
            left += fs::exists(Picture(episode, i)) ? 1 : 0;
        return left;
    }
};

TEST_F(Keeper_On_A_Small_Disk, Keeps_What_A_Bind_Mount_Names_And_No_Target_Above_Half_The_Disk) {
    Keeper_Hooks hooks;
    const std::string via = bound.string() + "/";
    hooks.queued_pictures = [&] {
        std::unordered_set<std::string> queued;
        for (int i = 0; i < 10; ++i)
            queued.insert(Picture(2, i, via).string());
        return queued;
    };
    Keeper_Inputs inputs;
    inputs.dest_folder = dest;
    inputs.current_episode = via + "RIDEV_2026_12_01/D0001/";

    // More than half of this disk: taken as no target.
    inputs.keep_free_bytes = disk.Size() / 2 + 4096;
    Keep_Free_Outcome outcome = Keep_Free_Space([&] { return inputs; }, hooks);
    EXPECT_EQ(outcome.state, Keeper_State::Target_Too_Big);
    EXPECT_EQ(outcome.disk_bytes, disk.Size());
    EXPECT_EQ(Left(1) + Left(2) + Left(3), 30u);

    // Half: the oldest two episodes are kept, named as they are through the
    // bind mount; the third gives what is missing.
    inputs.keep_free_bytes = disk.Size() / 2;
    outcome = Keep_Free_Space([&] { return inputs; }, hooks);
    EXPECT_EQ(outcome.state, Keeper_State::Room);
    EXPECT_EQ(Left(1), 10u) << "the episode being recorded went";
    EXPECT_EQ(Left(2), 10u) << "queued pictures went";
    EXPECT_LT(Left(3), 10u);
    struct statvfs info {};
    ASSERT_EQ(::statvfs(dest.c_str(), &info), 0);
    EXPECT_GE(static_cast<uint64_t>(info.f_bavail) * info.f_frsize, inputs.keep_free_bytes);
}

} // namespace
} // namespace vistrel
