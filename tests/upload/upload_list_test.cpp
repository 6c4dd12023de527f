#include "upload/upload_list.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TFichier Picture(int n) {
    const std::string name = "I_00_00_00__" + std::to_string(n) + ".jpg";
    return {"/pics/RIDEV_2026_12_08/D0001/" + name, name, "RIDEV_2026_12_08/D0001/", false};
}

std::vector<std::string> Taken_Names(Upload_List& list, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        if (const auto taken = list.Take_First_Unsent())
            names.push_back(taken->entry.Name);
    return names;
}

TEST(UploadList, EntriesAreTakenOnceInRecordingOrder) {
    Upload_List list;
    EXPECT_FALSE(list.Ever_Appended());
    EXPECT_FALSE(list.Take_First_Unsent().has_value());
    for (int n = 1; n <= 3; ++n)
        list.Append(Picture(n));
    EXPECT_TRUE(list.Ever_Appended());
    EXPECT_EQ(
        Taken_Names(list, 5),
        (std::vector<std::string>{"I_00_00_00__1.jpg", "I_00_00_00__2.jpg", "I_00_00_00__3.jpg"}));
    EXPECT_EQ(list.Unsent_Count(), 0u);
    list.Append(Picture(4));
    EXPECT_EQ(Taken_Names(list, 1), std::vector<std::string>{"I_00_00_00__4.jpg"});
}

TEST(UploadList, AnEntryPutBackIsTheNextOneTaken) {
    Upload_List list;
    for (int n = 1; n <= 3; ++n)
        list.Append(Picture(n));
    const auto first = list.Take_First_Unsent();
    ASSERT_TRUE(first.has_value());
    list.Put_Back(first->id);
    const auto again = list.Take_First_Unsent();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->entry.Name, "I_00_00_00__1.jpg");
    EXPECT_TRUE(list.Snapshot()[0].Sent);

    // Put back after later entries were sent and released: still first.
    list.Finish(again->id);
    const auto second = list.Take_First_Unsent();
    const auto third = list.Take_First_Unsent();
    list.Finish(third->id);
    list.Put_Back(second->id);
    EXPECT_EQ(Taken_Names(list, 2), std::vector<std::string>{"I_00_00_00__2.jpg"});
}

TEST(UploadList, FinishedEntriesAtTheFrontAreReleased) {
    Upload_List list;
    for (int n = 1; n <= 4; ++n)
        list.Append(Picture(n));
    const auto a = list.Take_First_Unsent();
    const auto b = list.Take_First_Unsent();
    list.Finish(b->id); // b waits behind a, which is still in flight
    EXPECT_EQ(list.Snapshot().size(), 4u);
    list.Finish(a->id);
    const auto left = list.Snapshot();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].Name, "I_00_00_00__3.jpg");
    EXPECT_TRUE(list.Ever_Appended());
    // Ids of released entries are ignored.
    list.Put_Back(a->id);
    EXPECT_EQ(Taken_Names(list, 3),
              (std::vector<std::string>{"I_00_00_00__3.jpg", "I_00_00_00__4.jpg"}));
}

// Records what the list tells its journal.
struct Journal_Recorder : Upload_Journal {
    std::vector<std::string> told;
    void Appended(uint64_t id, const TFichier& entry) noexcept override {
        told.push_back("A" + std::to_string(id) + " " + entry.Name);
    }
    void Finished(uint64_t id) noexcept override { told.push_back("D" + std::to_string(id)); }
};

TEST(UploadList, RestoredEntriesComeFirstAndTheJournalHearsOfEveryChange) {
    Upload_List list;
    Journal_Recorder journal;
    list.Restore({{40, Picture(1)}, {42, Picture(2)}}, 43);
    EXPECT_TRUE(list.Ever_Appended());
    list.Attach_Journal(&journal);
    list.Append(Picture(3));
    EXPECT_EQ(list.Unsent_Count(), 3u);
    EXPECT_EQ(Taken_Names(list, 1), std::vector<std::string>{"I_00_00_00__1.jpg"});
    const auto second = list.Take_First_Unsent();
    list.Put_Back(second->id);
    list.Finish(second->id); // refused for good without being taken again
    list.Finish(second->id); // told once only
    EXPECT_EQ(list.Unsent_Count(), 1u);
    // Walked in pieces of one: each piece says where the next begins.
    std::vector<std::string> visited;
    std::optional<Upload_List::Entry_Id> next = 0;
    for (int piece = 0; next && piece < 10; ++piece) {
        next = list.Visit_Unfinished(*next, 1, [&](uint64_t id, const TFichier& e) {
            visited.push_back(std::to_string(id) + e.Name);
        });
        visited.push_back("|");
    }
    EXPECT_EQ(visited,
              (std::vector<std::string>{"40I_00_00_00__1.jpg", "|", "43I_00_00_00__3.jpg", "|"}));
    list.Attach_Journal(nullptr);
    list.Append(Picture(4));
    EXPECT_EQ(journal.told, (std::vector<std::string>{"A43 I_00_00_00__3.jpg", "D42"}));
}

TEST(UploadList, TheCountOfWaitingEntriesFollowsEveryChange) {
    Upload_List list;
    for (int n = 1; n <= 5; ++n)
        list.Append(Picture(n));
    const auto a = list.Take_First_Unsent();
    const auto b = list.Take_First_Unsent();
    EXPECT_EQ(list.Unsent_Count(), 3u);
    list.Put_Back(a->id);
    list.Put_Back(a->id); // twice is once
    EXPECT_EQ(list.Unsent_Count(), 4u);
    list.Finish(b->id);
    EXPECT_EQ(list.Unsent_Count(), 4u);
    while (const auto taken = list.Take_First_Unsent())
        list.Finish(taken->id);
    EXPECT_EQ(list.Unsent_Count(), 0u);
    EXPECT_TRUE(list.Snapshot().empty());
}

} // namespace
} // namespace vistrel
