#include "episodes/episode_listing.h"

#include "episodes/episode_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace vistrel {
namespace {

using test::Episode_Tree;

std::vector<std::pair<std::string, size_t>> Days_And_Counts(const std::string& dest) {
    std::vector<std::pair<std::string, size_t>> seen;
    for (const Day_Entry& day : List_Days(dest))
        seen.emplace_back(day.folder_name, day.episodes);
    return seen;
}

std::vector<std::string> Episode_Names(const std::string& dest, const std::string& day) {
    std::vector<std::string> names;
    for (const Episode_Entry& episode : List_Episodes(dest, day))
        names.push_back(episode.folder_name);
    return names;
}

TEST(EpisodeListing, DaysComeNewestFirstWithTheirEpisodeFoldersCounted) {
    Episode_Tree tree;
    tree.Files("RIDEV_2026_12_08/D0001", {"I_08_00_00__00001.jpg"});
    tree.Files("RIDEV_2026_12_08/R0001", {"I_08_00_00__00001.jpg"});
    // Episode folders are counted without being opened: an empty one counts.
    tree.Folder("RIDEV_2026_12_10/D0001");
    tree.Files("RIDEV_2026_12_10/D0002", {"I_09_00_00__00002.jpg", "I_09_00_01__00003.jpg"});
    tree.Files("RIDEV_2026_12_10/R0001", {"I_09_00_00__00001.jpg"});
    // The user's own entries beside them, which are not episodes.
    tree.Folder("RIDEV_2026_12_10/Holiday");
    tree.Folder("RIDEV_2026_12_10/D12");
    tree.Folder("RIDEV_2026_12_10/d0005");
    tree.Files("RIDEV_2026_12_10", {"D0007", "readme.txt"});
    tree.Folder("RIDEV_2026_12_09");
    // Crossing a year and a leap day; a month sorted as text would misplace
    // the tenth before the ninth.
    tree.Folder("RIDEV_2025_12_31/D0001");
    tree.Folder("RIDEV_2024_02_29/R0003");
    tree.Folder("RIDEV_2026_09_30");
    // Names the program never writes, or not as folders.
    tree.Folder("RIDEV_2026_13_40/D0001");
    tree.Folder("RIDEV_2025_02_29/D0001");
    tree.Folder("RIDEV_2026_00_10");
    tree.Folder("RIDEV_2026_12_1");
    tree.Folder("Photos/RIDEV_2026_12_11");
    tree.Files("", {"RIDEV_2026_12_11", "notes.txt"});
    std::filesystem::create_directory_symlink(tree.Path("RIDEV_2026_12_10"),
                                              tree.Path("RIDEV_2026_12_12"));

    EXPECT_EQ(Days_And_Counts(tree.Dest()),
              (std::vector<std::pair<std::string, size_t>>{{"RIDEV_2026_12_10", 3},
                                                           {"RIDEV_2026_12_09", 0},
                                                           {"RIDEV_2026_12_08", 2},
                                                           {"RIDEV_2026_09_30", 0},
                                                           {"RIDEV_2025_12_31", 1},
                                                           {"RIDEV_2024_02_29", 1}}));
    const std::vector<Day_Entry> days = List_Days(tree.Dest());
    ASSERT_FALSE(days.empty());
    EXPECT_EQ(days[0].year, 2026);
    EXPECT_EQ(days[0].month, 12);
    EXPECT_EQ(days[0].day, 10);

    // The same without the destination's slash.
    std::string bare = tree.Dest();
    bare.pop_back();
    EXPECT_EQ(List_Days(bare).size(), days.size());
    EXPECT_TRUE(List_Days(tree.Path("missing")).empty());
}

TEST(EpisodeListing, EpisodesComeNewestFirst) {
    // Folder -> the time it last changed; the expected order, newest first.
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, time_t>> folders;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"the kinds interleave by the time their folders changed",
         {{"D0001", 100}, {"R0001", 150}, {"D0002", 200}, {"D0003", 300}, {"R0002", 350}},
         {"R0002", "D0003", "D0002", "R0001", "D0001"}},
        {"within a kind the number decides, longer numbers being higher",
         {{"D9999", 500}, {"D10000", 500}, {"D0998", 500}},
         {"D10000", "D9999", "D0998"}},
        {"an old folder changed lately does not pass the newer ones of its kind",
         {{"D0001", 900}, {"D0002", 200}, {"D0003", 300}, {"R0001", 100}},
         {"D0003", "D0002", "D0001", "R0001"}},
        {"equal times put the motion first", {{"R0004", 700}, {"D0004", 700}}, {"D0004", "R0004"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Episode_Tree tree;
        for (const auto& [folder, changed] : c.folders) {
            tree.Files("RIDEV_2026_12_10/" + folder, {"I_10_00_00__00001.jpg"});
            tree.Changed_At("RIDEV_2026_12_10/" + folder, changed);
        }
        tree.Folder("RIDEV_2026_12_10/Holiday");
        tree.Files("RIDEV_2026_12_10", {"R0009"});
        EXPECT_EQ(Episode_Names(tree.Dest(), "RIDEV_2026_12_10"), c.expected);
    }
}

TEST(EpisodeListing, EpisodesCarryTheirKindAndNumber) {
    Episode_Tree tree;
    tree.Folder("RIDEV_2026_12_10/R0012");
    tree.Folder("RIDEV_2026_12_10/D0004");
    tree.Changed_At("RIDEV_2026_12_10/R0012", 10);
    tree.Changed_At("RIDEV_2026_12_10/D0004", 20);
    const std::vector<Episode_Entry> episodes = List_Episodes(tree.Dest(), "RIDEV_2026_12_10");
    ASSERT_EQ(episodes.size(), 2u);
    EXPECT_EQ(episodes[0].kind, 'D');
    EXPECT_EQ(episodes[0].number, 4u);
    EXPECT_EQ(episodes[1].kind, 'R');
    EXPECT_EQ(episodes[1].number, 12u);
    EXPECT_TRUE(List_Episodes(tree.Dest(), "RIDEV_2026_12_11").empty());
}

TEST(EpisodeListing, FolderNamesJoinAsTheQueueAndTheDiskWriteThem) {
    EXPECT_EQ(Episode_Folder_Path("/pics/", "RIDEV_2026_12_10", "D0004"),
              "/pics/RIDEV_2026_12_10/D0004");
    EXPECT_EQ(Episode_Folder_Path("/pics", "RIDEV_2026_12_10", "D0004"),
              "/pics/RIDEV_2026_12_10/D0004");
    EXPECT_EQ(Episode_Relative_Folder("RIDEV_2026_12_10", "R0012"), "RIDEV_2026_12_10/R0012/");
}

} // namespace
} // namespace vistrel
