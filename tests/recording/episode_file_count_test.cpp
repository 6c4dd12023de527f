#include "recording/episode_file_count.h"

#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

const Local_Date_Time kDay = {2026, 12, 9, 10, 0, 0};

// The episode folder's files change by the hand of another program: created,
// removed, renamed over each other, moved in and out, links and folders put
// beside them. It acts when told, through a pipe, and says when it is done,
// so that the test can compare both counts on the same folder; or it acts
// freely until told to stop.
class Other_Program {
public:
    Other_Program(const std::string& folder, unsigned seed, bool free_running) {
        int to_child[2];
        int from_child[2];
        if (::pipe(to_child) != 0 || ::pipe(from_child) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(to_child[1]);
            ::close(from_child[0]);
            Serve(folder, seed, free_running, to_child[0], from_child[1]);
            ::_exit(0);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
        to_child_ = to_child[1];
        from_child_ = from_child[0];
    }
    ~Other_Program() {
        const unsigned char stop = 255;
        (void)!::write(to_child_, &stop, 1);
        unsigned char done = 0;
        (void)!::read(from_child_, &done, 1);
        ::close(to_child_);
        ::close(from_child_);
        ::waitpid(pid_, nullptr, 0);
    }

    // `changes` random changes, done when this returns.
    void Change(int changes) {
        const auto n = static_cast<unsigned char>(changes);
        unsigned char done = 0;
        if (::write(to_child_, &n, 1) != 1 || ::read(from_child_, &done, 1) != 1)
            throw std::runtime_error("the other program is gone");
    }

private:
    static void One_Change(const fs::path& folder, std::mt19937& random, int serial) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (!e.is_directory(ec) && !e.is_symlink(ec))
                files.push_back(e.path());
        const auto any_file = [&]() -> std::optional<fs::path> {
            if (files.empty())
                return std::nullopt;
            return files[std::uniform_int_distribution<size_t>(0, files.size() - 1)(random)];
        };
        const std::string name = "other_" + std::to_string(serial);
        switch (std::uniform_int_distribution<int>(0, 8)(random)) {
        case 0:
            std::ofstream(folder / name) << "x";
            break;
        case 1:
            if (const auto f = any_file())
                fs::remove(*f, ec); // the program's own pictures too
            break;
        case 2:
            fs::create_directory(folder / ("dir_" + std::to_string(serial)), ec);
            break;
        case 3: // a link to a folder does not count, a link to a file does
            fs::create_symlink(serial % 2 ? "." : "missing", folder / ("link_" + name), ec);
            break;
        case 4:
            if (const auto f = any_file())
                fs::rename(*f, folder / ("renamed_" + name), ec);
            break;
        case 5:
            if (files.size() >= 2)
                fs::rename(files[0], files[1], ec); // one file fewer
            break;
        case 6:
            if (const auto f = any_file())
                fs::rename(*f, folder.parent_path() / (name + ".out"), ec);
            break;
        case 7:
            for (const auto& e : fs::directory_iterator(folder.parent_path(), ec))
                if (e.path().extension() == ".out") {
                    fs::rename(e.path(), folder / e.path().filename(), ec);
                    break;
                }
            break;
        case 8:
            std::ofstream(folder / name) << "brief";
            fs::remove(folder / name, ec);
            break;
        }
    }

    static void Serve(const std::string& folder, unsigned seed, bool free_running, int in,
                      int out) {
        std::mt19937 random(seed);
        int serial = 0;
        if (free_running)
            ::fcntl(in, F_SETFL, O_NONBLOCK);
        for (;;) {
            unsigned char n = 0;
            const ssize_t got = ::read(in, &n, 1);
            if (got == 1 && n == 255)
                break;
            if (free_running) {
                if (fs::exists(folder))
                    One_Change(folder, random, serial++);
                ::usleep(std::uniform_int_distribution<int>(0, 300)(random));
                continue;
            }
            if (got != 1)
                break;
            for (int k = 0; k < n && fs::exists(folder); ++k)
                One_Change(folder, random, serial++);
            (void)!::write(out, &n, 1);
        }
        const unsigned char done = 1;
        (void)!::write(out, &done, 1);
    }

    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
};

class Episode_Count : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Working_Settings settings;
    Recording_State state;
    Episode_File_Count counter;
    int second = 0;

    void SetUp() override {
        settings.Dest_Folder = dir.Folder();
        settings.Max_Files = 25;
        state.Rec_Continuous = true;
        state.Num_Folder_R = 1;
    }

    Local_Date_Time Next_Moment() {
        Local_Date_Time now = kDay;
        now.hour = 10 + second / 3600;
        now.minute = second / 60 % 60;
        now.second = second % 60;
        ++second;
        return now;
    }

    std::string Folder_Of_Episode(int number) const {
        return settings.Dest_Folder + Day_Folder_Name(kDay) + Episode_Folder_Name("R", number);
    }

    // The destination by the counter, checked against the listing rule on
    // the folder as it is at that moment.
    Picture_Destination Next_Checked(const Local_Date_Time& now) {
        ++state.Num_Image;
        Recording_State by_listing = state;
        const Picture_Destination expected = Next_Picture_Destination(by_listing, settings, now);
        const Picture_Destination got = Next_Picture_Destination(state, settings, now, counter);
        EXPECT_EQ(got.relative_folder, expected.relative_folder);
        EXPECT_EQ(got.file_name, expected.file_name);
        EXPECT_EQ(state.Num_Folder_R, by_listing.Num_Folder_R);
        EXPECT_EQ(state.Num_Image, by_listing.Num_Image);
        return got;
    }

    // Writes the picture as the snapshot writer does.
    void Write(const Picture_Destination& d) {
        counter.Before_Own_Write(d.full_folder, d.file_name + ".jpg");
        fs::create_directories(d.full_folder);
        Write_File_Atomically(d.full_folder + d.file_name + ".jpg", "jpeg", 0644,
                              Durability::Program_Crash);
    }
};

TEST_F(Episode_Count, Rolls_Over_Where_The_Listing_Would_While_Another_Program_Changes_The_Folder) {
    std::mt19937 random(20261209);
    std::unique_ptr<Other_Program> other;
    uint32_t followed = 0;
    for (int picture = 0; picture < 600 && !HasFailure(); ++picture) {
        // Follows whichever episode folder is being filled.
        if (state.Num_Folder_R != followed) {
            followed = state.Num_Folder_R;
            other.reset();
            fs::create_directories(Folder_Of_Episode(followed));
            other = std::make_unique<Other_Program>(Folder_Of_Episode(followed), random(), false);
        }
        other->Change(std::uniform_int_distribution<int>(0, 4)(random) == 0 ? 3 : 0);
        const Picture_Destination d = Next_Checked(Next_Moment());
        // Also between the count and the write.
        if (std::uniform_int_distribution<int>(0, 9)(random) == 0)
            other->Change(2);
        Write(d);
    }
    EXPECT_GE(state.Num_Folder_R, 10) << "too few folder boundaries to compare";
}

TEST_F(Episode_Count, Misses_No_Change_Made_While_The_Program_Writes) {
    settings.Max_Files = 1000000;
    const std::string folder = Folder_Of_Episode(1);
    fs::create_directories(folder);
    {
        Other_Program other(folder, 7, true);
        for (int picture = 0; picture < 300; ++picture) {
            ++state.Num_Image;
            try {
                Write(Next_Picture_Destination(state, settings, Next_Moment(), counter));
            } catch (const std::system_error&) {
                // The other program took the temporary away mid-write.
            }
        }
    }
    EXPECT_EQ(counter.Count_Files(folder), Count_Files(folder));
}

// Changes the count must follow however they come about; each starts from a
// folder holding three pictures counted by the counter.
TEST_F(Episode_Count, Follows_Each_Kind_Of_Change) {
    struct Change {
        const char* what;
        std::function<void(const fs::path& folder)> make;
    };
    const Change changes[] = {
        {"a file added", [](const fs::path& f) { std::ofstream(f / "note.txt") << "x"; }},
        {"a folder added", [](const fs::path& f) { fs::create_directory(f / "sub"); }},
        {"a link to a folder",
         [](const fs::path& f) { fs::create_directory_symlink("..", f / "up"); }},
        {"a dangling link", [](const fs::path& f) { fs::create_symlink("gone", f / "dangling"); }},
        {"a picture removed", [](const fs::path& f) { fs::remove(f / "I_10_00_00__00001.jpg"); }},
        {"a picture renamed over another",
         [](const fs::path& f) {
             fs::rename(f / "I_10_00_00__00001.jpg", f / "I_10_00_01__00002.jpg");
         }},
        {"a hard link",
         [](const fs::path& f) {
             fs::create_hard_link(f / "I_10_00_00__00001.jpg", f / "twin.jpg");
         }},
        {"the folder removed", [](const fs::path& f) { fs::remove_all(f); }},
        {"the folder removed and made again with other files",
         [](const fs::path& f) {
             fs::remove_all(f);
             fs::create_directory(f);
             std::ofstream(f / "a") << "a";
         }},
        {"the folder moved away and another put in its place",
         [](const fs::path& f) {
             fs::rename(f, f.string() + ".old");
             fs::create_directory(f);
         }},
        {"the day folder moved away",
         [](const fs::path& f) { fs::rename(f.parent_path(), f.parent_path().string() + ".old"); }},
        {"the day folder moved away and the episode folder made again with a file",
         [](const fs::path& f) {
             fs::rename(f.parent_path(), f.parent_path().string() + ".old");
             fs::create_directories(f);
             std::ofstream(f / "a") << "a";
         }},
        {"a file moved in",
         [](const fs::path& f) {
             std::ofstream(f.parent_path() / "outside") << "x";
             fs::rename(f.parent_path() / "outside", f / "inside");
         }},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        test::Temp_Dir fresh;
        settings.Dest_Folder = fresh.Folder();
        state = {};
        state.Rec_Continuous = true;
        state.Num_Folder_R = 1;
        second = 0;
        for (int k = 0; k < 3; ++k)
            Write(Next_Checked(Next_Moment()));
        const std::string folder = Folder_Of_Episode(1);
        ASSERT_EQ(counter.Count_Files(folder), 3);
        change.make(fs::path(folder).parent_path());
        EXPECT_EQ(counter.Count_Files(folder), Count_Files(folder));
        // And the program's next pictures after it.
        for (int k = 0; k < 2; ++k)
            Write(Next_Checked(Next_Moment()));
        EXPECT_EQ(counter.Count_Files(folder), Count_Files(folder));
    }
}

TEST_F(Episode_Count, An_Own_Write_That_Replaces_A_File_Or_Fails_Counts_As_The_Listing_Does) {
    const Picture_Destination first = Next_Checked(Next_Moment());
    Write(first);
    // The same name again (a clock set back): the file is replaced.
    Write(first);
    EXPECT_EQ(counter.Count_Files(first.full_folder), 1);
    // A write that fails leaves nothing behind, its temporary included.
    counter.Before_Own_Write(first.full_folder, "I_10_00_09__00009.jpg");
    EXPECT_THROW(
        Write_File_Atomically(first.full_folder + "no_such_folder/I_10_00_09__00009.jpg", "jpeg"),
        std::system_error);
    EXPECT_EQ(counter.Count_Files(first.full_folder), Count_Files(first.full_folder));
}

TEST(Episode_Count_File_Systems, Only_Those_Changed_Solely_Through_This_Kernel_Are_Followed) {
    struct Case {
        const char* name;
        int64_t type;
        bool followed;
    };
    const Case cases[] = {
        {"ext4", 0xEF53, true},
        {"tmpfs", 0x01021994, true},
        {"btrfs", 0x9123683E, true},
        {"FAT", 0x4d44, false},
        {"NFS", 0x6969, false},
        {"CIFS", 0xFF534D42, false},
        // f_type is a signed long: the magic may come sign-extended.
        {"CIFS sign-extended", static_cast<int32_t>(0xFF534D42u), false},
        {"FUSE", 0x65735546, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Changes_Are_All_Seen_Locally(c.type), c.followed) << c.name;
}

// Whether this process has an inotify watch on the folder, as the kernel
// lists them in /proc/self/fdinfo.
bool Watched_By_This_Process(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return false;
    char inode[32];
    std::snprintf(inode, sizeof inode, "ino:%lx ", static_cast<unsigned long>(st.st_ino));
    for (const auto& fd : fs::directory_iterator("/proc/self/fdinfo")) {
        std::ifstream info(fd.path());
        for (std::string line; std::getline(info, line);)
            if (line.rfind("inotify wd:", 0) == 0 && line.find(inode) != std::string::npos)
                return true;
    }
    return false;
}

TEST_F(Episode_Count, Lists_Every_Time_Where_Changes_Cannot_Be_Followed) {
    const std::string folder = Folder_Of_Episode(1);
    fs::create_directories(folder);
    struct Case {
        bool trusted;
        bool watched;
    };
    for (const Case c : {Case{true, true}, Case{false, false}}) {
        SCOPED_TRACE(c.trusted);
        Episode_File_Count count([&](const std::string&) { return c.trusted; });
        for (int k = 0; k < 3; ++k) {
            std::ofstream(folder + "f" + std::to_string(c.trusted) + std::to_string(k)) << "x";
            EXPECT_EQ(count.Count_Files(folder), Count_Files(folder));
        }
        EXPECT_EQ(Watched_By_This_Process(folder), c.watched);
    }
}

} // namespace
} // namespace vistrel
