#include "episodes/episode_delete.h"

#include "episodes/episode_listing.h"
#include "episodes/episode_tree.h"
#include "upload/upload_list.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

using test::Episode_Tree;

constexpr char kDay[] = "RIDEV_2026_12_10";
constexpr char kEpisode[] = "RIDEV_2026_12_10/D0004";
constexpr char kNeighbour[] = "RIDEV_2026_12_10/R0004";

TFichier Picture(const Episode_Tree& tree, const std::string& episode, const std::string& name) {
    return {tree.Path(episode + "/" + name), name, episode + "/", false};
}

struct Finished_Recorder : Upload_Journal {
    std::vector<uint64_t> finished;
    void Appended(uint64_t, const TFichier&) noexcept override {}
    void Finished(uint64_t id) noexcept override { finished.push_back(id); }
    void Refused(uint64_t, uint32_t) noexcept override {}
};

void Fill(const Episode_Tree& tree) {
    tree.Files(kEpisode, {"I_10_00_00__00001.jpg", "I_10_00_01__00002.jpg",
                          "I_10_00_02__00003.jpg.vistrel-tmp-Q1w2E3"});
    tree.Files(kNeighbour, {"I_10_00_00__00001.jpg"});
}

std::vector<std::string> Names_Taken(Upload_List& queue) {
    std::vector<std::string> names;
    while (const auto taken = queue.Take_First_Unsent())
        names.push_back(taken->entry.Folder + taken->entry.Name);
    return names;
}

TEST(EpisodeDelete, AnEpisodeNobodyWaitsForGoesWholly) {
    Episode_Tree tree;
    Fill(tree);
    Upload_List queue;
    queue.Append(Picture(tree, kNeighbour, "I_10_00_00__00001.jpg"));

    const Delete_Result result = Delete_Episode(tree.Dest(), kDay, "D0004", &queue);
    EXPECT_EQ(result.forgotten, 0u);
    EXPECT_EQ(result.removed, 3u);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_EQ(result.others_left, 0u);
    EXPECT_TRUE(result.folder_removed);
    EXPECT_FALSE(tree.Exists(kEpisode));
    EXPECT_TRUE(tree.Exists(std::string(kNeighbour) + "/I_10_00_00__00001.jpg"));
    EXPECT_EQ(Names_Taken(queue),
              std::vector<std::string>{std::string(kNeighbour) + "/I_10_00_00__00001.jpg"});
    EXPECT_EQ(List_Days(tree.Dest())[0].episodes, 1u);

    // Once gone, a second deletion finds nothing to do.
    const Delete_Result again = Delete_Episode(tree.Dest(), kDay, "D0004", nullptr);
    EXPECT_EQ(again.removed, 0u);
    EXPECT_FALSE(again.folder_removed);
}

TEST(EpisodeDelete, WaitingPicturesLeaveTheQueueButTheOneBeingSent) {
    Episode_Tree tree;
    Fill(tree);
    Upload_List queue;
    Finished_Recorder journal;
    queue.Attach_Journal(&journal);
    queue.Append(Picture(tree, kEpisode, "I_09_00_00__00000.jpg")); // journal id 0
    queue.Append(Picture(tree, kNeighbour, "I_09_00_00__00001.jpg"));
    queue.Append(Picture(tree, kEpisode, "I_10_00_00__00001.jpg")); // 2
    queue.Append(Picture(tree, "RIDEV_2026_12_09/D0004", "I_10_00_00__00001.jpg"));
    queue.Append(Picture(tree, kEpisode, "I_10_00_01__00002.jpg")); // 4
    const auto in_flight = queue.Take_First_Unsent();
    ASSERT_EQ(in_flight->entry.Folder, std::string(kEpisode) + "/");

    const Delete_Result result = Delete_Episode(tree.Dest(), kDay, "D0004", &queue);
    EXPECT_EQ(result.forgotten, 2u);
    EXPECT_TRUE(result.folder_removed);
    EXPECT_EQ(journal.finished, (std::vector<uint64_t>{2, 4}));
    EXPECT_EQ(queue.Unsent_Count(), 2u);
    EXPECT_EQ(Names_Taken(queue),
              (std::vector<std::string>{std::string(kNeighbour) + "/I_09_00_00__00001.jpg",
                                        "RIDEV_2026_12_09/D0004/I_10_00_00__00001.jpg"}));
    // The worker, finding its picture gone, lets it go as it would any.
    queue.Finish(in_flight->id);
    EXPECT_EQ(journal.finished, (std::vector<uint64_t>{2, 4, 0}));
}

TEST(EpisodeDelete, TheUsersOwnFilesKeepTheFolder) {
    Episode_Tree tree;
    Fill(tree);
    tree.Files(kEpisode, {"notes.txt", "I_10_00_03__00004.jpg.bak"});
    tree.Files(std::string(kEpisode) + "/mine", {"I_10_00_04__00005.jpg"});

    const Delete_Result result = Delete_Episode(tree.Dest(), kDay, "D0004", nullptr);
    EXPECT_EQ(result.removed, 3u);
    EXPECT_EQ(result.others_left, 3u);
    EXPECT_FALSE(result.folder_removed);
    EXPECT_EQ(test::Entries(tree.Path(kEpisode)),
              (std::vector<std::string>{"I_10_00_03__00004.jpg.bak", "mine", "notes.txt"}));
    EXPECT_TRUE(tree.Exists(std::string(kEpisode) + "/mine/I_10_00_04__00005.jpg"));
}

TEST(EpisodeDelete, NothingIsDeletedThroughALink) {
    Episode_Tree tree;
    tree.Files("elsewhere", {"I_10_00_00__00001.jpg"});
    tree.Folder(kDay);
    std::filesystem::create_directory_symlink(tree.Path("elsewhere"), tree.Path(kEpisode));

    const Delete_Result result = Delete_Episode(tree.Dest(), kDay, "D0004", nullptr);
    EXPECT_EQ(result.removed, 0u);
    EXPECT_FALSE(result.folder_removed);
    EXPECT_TRUE(tree.Exists("elsewhere/I_10_00_00__00001.jpg"));
    EXPECT_TRUE(tree.Exists(kEpisode));
}

} // namespace
} // namespace vistrel
