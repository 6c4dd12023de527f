#include "episodes/episode_upload_state.h"

#include "episodes/episode_listing.h"
#include "episodes/episode_tree.h"
#include "upload/refused_pictures.h"
#include "upload/upload_list.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TFichier Picture(const std::string& dest, const std::string& folder, const std::string& name) {
    return {dest + folder + name, name, folder, false};
}

TEST(EpisodeUploadState, RefusedPathsReadBackAsTheyWereWritten) {
    test::Temp_Dir dir;
    const std::string file = dir.File(kUpload_Refused_File_Name);
    Refused_Pictures refused(file);
    const std::vector<std::string> paths = {"/pics/RIDEV_2026_12_10/D0004/I_10_00_00__00001.jpg",
                                            "/pics/odd\nname/I_10_00_00__00002.jpg",
                                            "/pics/with space/I_10_00_00__00003.jpg"};
    for (const std::string& path : paths)
        ASSERT_TRUE(refused.Add(path));
    EXPECT_EQ(Read_Refused_Paths(file), std::set<std::string>(paths.begin(), paths.end()));

    // A last line cut short by a crash still counts; empty lines do not.
    dir.Write("cut", "/a/b.jpg\n\n/a/c.jpg");
    EXPECT_EQ(Read_Refused_Paths(dir.File("cut")), (std::set<std::string>{"/a/b.jpg", "/a/c.jpg"}));
    EXPECT_TRUE(Read_Refused_Paths(dir.File("missing")).empty());
}

TEST(EpisodeUploadState, CountsOnlyTheEpisodesOwnPictures) {
    const std::string dest = "/pics/";
    const std::string own = Episode_Relative_Folder("RIDEV_2026_12_10", "D0004");
    const std::string own_path = Episode_Folder_Path(dest, "RIDEV_2026_12_10", "D0004");
    Upload_List queue;
    queue.Append(Picture(dest, own, "I_10_00_00__00001.jpg")); // taken, then sent
    queue.Append(Picture(dest, own, "I_10_00_01__00002.jpg")); // being sent
    queue.Append(Picture(dest, "RIDEV_2026_12_09/D0004/", "I_10_00_00__00001.jpg"));
    queue.Append(Picture(dest, "RIDEV_2026_12_10/D00041/", "I_10_00_01__00001.jpg"));
    queue.Append(Picture(dest, "RIDEV_2026_12_10/R0004/", "I_10_00_01__00001.jpg"));
    queue.Append(Picture(dest, own, "I_10_00_02__00003.jpg"));
    queue.Append(Picture(dest, own, "I_10_00_03__00004.jpg"));
    const auto sent = queue.Take_First_Unsent();
    queue.Finish(sent->id);
    queue.Take_First_Unsent();

    const std::set<std::string> refused = {
        own_path + "/I_09_00_00__00001.jpg",
        own_path + "/I_09_00_00__0000\n2.jpg",
        own_path + "/sub/I_09_00_00__00003.jpg",
        "/pics/RIDEV_2026_12_10/D00041/I_09_00_00__00004.jpg",
        "/pics/RIDEV_2026_12_09/D0004/I_09_00_00__00005.jpg",
        "/pics/RIDEV_2026_12_10/D0003/I_09_00_00__00006.jpg",
        "/pics/RIDEV_2026_12_10/D0005/I_09_00_00__00007.jpg",
    };
    EXPECT_EQ(Upload_State_Of(queue, refused, own, own_path), (Upload_State{3, 2}));
    EXPECT_EQ(Upload_State_Of(queue, refused, own, own_path + "/"), (Upload_State{3, 2}));
    EXPECT_EQ(Upload_State_Of(queue, {}, "RIDEV_2026_12_10/D0003/", "/pics/RIDEV_2026_12_10/D0003"),
              (Upload_State{0, 0}));

    // Counted over a queue longer than the pieces it is walked in.
    Upload_List long_queue;
    for (int n = 0; n < 10000; ++n)
        long_queue.Append(Picture(dest, n % 3 == 0 ? own : "RIDEV_2026_12_10/R0001/",
                                  "I_10_00_00__" + std::to_string(10000 + n) + ".jpg"));
    EXPECT_EQ(Upload_State_Of(long_queue, {}, own, own_path).waiting, 3334u);
}

} // namespace
} // namespace vistrel
