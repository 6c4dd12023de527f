#include "episodes/episode_summary.h"

#include "episodes/episode_tree.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

using test::Episode_Tree;

constexpr char kEpisode[] = "RIDEV_2026_12_10/D0004";

TEST(EpisodeSummary, CountsAndTimesComeFromThePicturesAlone) {
    Episode_Tree tree;
    tree.Files(kEpisode,
               {// Written in no particular order; within a second, a longer
                // number is a later picture.
                "I_10_00_05__00012.jpg", "I_09_59_58__00010.jpg", "I_10_01_40__100000.jpg",
                "I_10_00_05__00011.jpg", "I_10_01_40__99999.jpg",
                // The user's own files, and names that are not quite ours.
                "notes.txt", "I_10_05_00__00013.JPG", "I_10_05_00__0013.jpg",
                "I_10_05_00__00013.jpg.bak", "I_10_05_00__00013.jpg.vistrel-tmp-ab"});
    tree.Files(std::string(kEpisode) + "/I_10_06_00__00014.jpg", {"I_10_07_00__00015.jpg"});

    const Episode_Summary summary = Summarize_Episode(tree.Path(kEpisode));
    EXPECT_EQ(summary.pictures, 5u);
    EXPECT_EQ(summary.first_picture, "I_09_59_58__00010.jpg");
    EXPECT_EQ(summary.last_picture, "I_10_01_40__100000.jpg");
    EXPECT_EQ(summary.start, (Time_Of_Day{9, 59, 58}));
    EXPECT_EQ(summary.end, (Time_Of_Day{10, 1, 40}));
    EXPECT_EQ(summary.duration_s, 102);
    EXPECT_FALSE(summary.being_written);

    EXPECT_EQ(Episode_Pictures(tree.Path(kEpisode)),
              (std::vector<std::string>{"I_09_59_58__00010.jpg", "I_10_00_05__00011.jpg",
                                        "I_10_00_05__00012.jpg", "I_10_01_40__99999.jpg",
                                        "I_10_01_40__100000.jpg"}));
}

TEST(EpisodeSummary, AFolderStillBeingWrittenSaysSoWithoutCountingTheTemporary) {
    struct Case {
        const char* what;
        std::vector<std::string> files;
        size_t pictures;
        std::string last;
        int duration_s;
        bool being_written;
    };
    const Case cases[] = {
        {"a picture on its way after the others",
         {"I_23_59_50__00001.jpg", "I_23_59_59__00002.jpg",
          "I_23_59_59__00003.jpg.vistrel-tmp-Xy12Z9"},
         2,
         "I_23_59_59__00002.jpg",
         9,
         true},
        {"only the first picture on its way",
         {"I_00_00_00__00001.jpg.vistrel-tmp-a1b2c3"},
         0,
         "",
         0,
         true},
        {"an empty folder, just made", {}, 0, "", 0, false},
        {"one picture", {"I_12_30_00__00007.jpg"}, 1, "I_12_30_00__00007.jpg", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Episode_Tree tree;
        tree.Folder(kEpisode);
        for (const std::string& file : c.files)
            tree.Files(kEpisode, {file});
        const Episode_Summary summary = Summarize_Episode(tree.Path(kEpisode));
        EXPECT_EQ(summary.pictures, c.pictures);
        EXPECT_EQ(summary.last_picture, c.last);
        EXPECT_EQ(summary.duration_s, c.duration_s);
        EXPECT_EQ(summary.being_written, c.being_written);
        EXPECT_EQ(Episode_Pictures(tree.Path(kEpisode)).size(), c.pictures);
    }
}

TEST(EpisodeSummary, AMissingFolderOrALinkToOneGivesNothing) {
    Episode_Tree tree;
    tree.Files("elsewhere", {"I_10_00_00__00001.jpg"});
    tree.Folder("RIDEV_2026_12_10");
    std::filesystem::create_directory_symlink(tree.Path("elsewhere"), tree.Path(kEpisode));
    EXPECT_EQ(Summarize_Episode(tree.Path(kEpisode)).pictures, 0u);
    EXPECT_EQ(Summarize_Episode(tree.Path("RIDEV_2026_12_10/D0005")).pictures, 0u);
    EXPECT_TRUE(Episode_Pictures(tree.Path(kEpisode)).empty());
}

} // namespace
} // namespace vistrel
