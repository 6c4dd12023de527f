// What opening the Episodes window costs on a month of recording: 30 day
// folders of 33 episodes of 100 pictures, about 100,000 files. Opening lists
// the days, the newest day's episodes and, for the rows in view, each
// episode's pictures and place in the upload queue. Target: 300 ms in all.
// The tree is made once, in the temporary folder (report.py puts it in
// memory), and its listings are then in the system's cache, as they are for
// a folder the program has just been writing into.
//   TMPDIR=/dev/shm ./build/bench/vistrel_bench_episodes
#include "episodes/episode_listing.h"
#include "episodes/episode_summary.h"
#include "episodes/episode_upload_state.h"
#include "recording/picture_names.h"
#include "support/temp_dir.h"
#include "upload/upload_list.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

using namespace vistrel;

constexpr int kDays = 30;
constexpr int kEpisodes_A_Day = 33;
constexpr int kPictures_An_Episode = 100;
constexpr size_t kRows_In_View = 12;

struct Month_Tree {
    vistrel::test::Temp_Dir dir;
    Upload_List queue;
    std::string refused_file;

    Month_Tree() {
        const std::string dest = dir.Folder();
        refused_file = dir.File("upload_refused");
        uint32_t picture = 0;
        for (int d = 1; d <= kDays; ++d) {
            std::string day = Day_Folder_Name({2026, 11, d, 0, 0, 0});
            day.pop_back();
            int second_of_day = 0;
            for (int e = 1; e <= kEpisodes_A_Day; ++e) {
                // One episode in three records continuously.
                const bool continuous = e % 3 == 0;
                std::string episode =
                    Episode_Folder_Name(continuous ? "R" : "D", static_cast<uint32_t>(e));
                episode.pop_back();
                const std::string folder = dest + day + "/" + episode + "/";
                std::filesystem::create_directories(folder);
                for (int p = 0; p < kPictures_An_Episode; ++p, second_of_day += 2) {
                    const std::string name =
                        Picture_File_Name(second_of_day / 3600, second_of_day / 60 % 60,
                                          second_of_day % 60, ++picture) +
                        ".jpg";
                    const int fd =
                        ::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                    if (fd >= 0)
                        ::close(fd);
                    // The newest day's pictures all wait for the server, as
                    // after a day without a connection.
                    if (d == kDays)
                        queue.Append({folder + name, name, day + "/" + episode + "/", false});
                }
            }
        }
    }
};

const Month_Tree& Tree() {
    static const auto tree = std::make_unique<Month_Tree>();
    return *tree;
}

void BM_Episodes_Open_Window(benchmark::State& state) {
    const Month_Tree& tree = Tree();
    const std::string dest = tree.dir.Folder();
    size_t pictures = 0;
    for (auto _ : state) {
        const std::vector<Day_Entry> days = List_Days(dest);
        if (days.size() != kDays) {
            state.SkipWithError("the tree was not made whole");
            break;
        }
        const std::vector<Episode_Entry> episodes = List_Episodes(dest, days.front().folder_name);
        const std::set<std::string> refused = Read_Refused_Paths(tree.refused_file);
        for (size_t row = 0; row < kRows_In_View && row < episodes.size(); ++row) {
            const std::string& day = days.front().folder_name;
            const std::string path = Episode_Folder_Path(dest, day, episodes[row].folder_name);
            const Episode_Summary summary = Summarize_Episode(path);
            const Upload_State upload = Upload_State_Of(
                tree.queue, refused, Episode_Relative_Folder(day, episodes[row].folder_name), path);
            pictures += summary.pictures + upload.waiting;
        }
        benchmark::DoNotOptimize(pictures);
    }
    // Each opening saw every picture of the rows in view and the backlog.
    state.counters["rows_pictures_and_waiting"] =
        static_cast<double>(pictures) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Episodes_Open_Window)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
