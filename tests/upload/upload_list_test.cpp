#include "upload/upload_list.h"

#include <gtest/gtest.h>

#include <algorithm>

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
    void Refused(uint64_t id, uint32_t refusals) noexcept override {
        told.push_back("R" + std::to_string(id) + " " + std::to_string(refusals));
    }
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

// What each run is offered, oldest first, while some entries are refused.
// A run answers each entry it is offered, in turn: 'r' the server refuses
// it, 's' it was sent, 'f' the connection failed (the run ends there).
TEST(UploadList, ARefusedEntryWaitsForTheNextRunWithoutHoldingBackThoseBehindIt) {
    struct Case {
        const char* what;
        int pictures;
        std::vector<std::string> answers;      // one text per run
        std::vector<std::vector<int>> offered; // per run
    };
    const Case cases[] = {
        {"one refused, the rest goes in the same run", 4, {"rsss", "s"}, {{1, 2, 3, 4}, {1}}},
        {"refused on every run: offered once a run",
         3,
         {"rsf", "rs", "r"},
         {{1, 2, 3}, {1, 3}, {1}}},
        {"two refused in a row", 4, {"rrss", "rs"}, {{1, 2, 3, 4}, {1, 2}}},
        {"a run that fails comes back for what it did not reach",
         3,
         {"rf", "rrf", "sss"},
         {{1, 2}, {1, 2, 3}, {1, 2, 3}}},
        {"failed after a refusal: both come back, oldest first", 3, {"rf", "ss"}, {{1, 2}, {1, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Upload_List list;
        for (int n = 1; n <= c.pictures; ++n)
            list.Append(Picture(n));
        std::vector<std::vector<int>> offered;
        for (const std::string& answers : c.answers) {
            list.Begin_Run();
            offered.emplace_back();
            for (const char answer : answers) {
                const auto taken = list.Take_First_Unsent();
                if (!taken)
                    break;
                offered.back().push_back(std::stoi(taken->entry.Name.substr(12)));
                if (answer == 'r')
                    list.Refuse(taken->id);
                else if (answer == 's')
                    list.Finish(taken->id);
                else
                    list.Put_Back(taken->id);
                if (answer == 'f')
                    break;
            }
        }
        EXPECT_EQ(offered, c.offered);
    }
}

TEST(UploadList, RefusalsAreCountedOncePerRunAndToldToTheJournal) {
    Upload_List list;
    Journal_Recorder journal;
    list.Restore({{7, Picture(1), 1}}, 8);
    list.Attach_Journal(&journal);
    list.Append(Picture(2));
    list.Begin_Run();
    auto first = list.Take_First_Unsent();
    EXPECT_EQ(list.Refuse(first->id), 2u) << "the count read back from an earlier run goes on";
    EXPECT_EQ(list.Refuse(first->id), 2u) << "twice in one run is once";
    EXPECT_EQ(list.Unsent_Count(), 2u) << "a refused entry still waits";
    const auto second = list.Take_First_Unsent();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->entry.Name, Picture(2).Name);
    EXPECT_FALSE(list.Take_First_Unsent().has_value()) << "not offered again in the same run";
    list.Finish(second->id);
    list.Begin_Run();
    first = list.Take_First_Unsent();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->entry.Name, Picture(1).Name);
    EXPECT_EQ(list.Refuse(first->id), 3u);
    list.Finish(first->id);
    EXPECT_EQ(list.Unsent_Count(), 0u);
    EXPECT_TRUE(list.Snapshot().empty());
    EXPECT_EQ(journal.told,
              (std::vector<std::string>{"A8 I_00_00_00__2.jpg", "R7 2", "D8", "R7 3", "D7"}));

    // The counts are there for a rewrite of the journal.
    Upload_List again;
    again.Restore({{3, Picture(3), 2}, {4, Picture(4), 0}}, 5);
    std::vector<std::string> visited;
    again.Visit_Journaled(0, 10, [&](const Upload_List::Journaled& e) {
        visited.push_back(std::to_string(e.journal_id) + ":" + std::to_string(e.refusals));
    });
    EXPECT_EQ(visited, (std::vector<std::string>{"3:2", "4:0"}));
}

TFichier In_Folder(const std::string& folder, int n) {
    const std::string name = "I_00_00_00__" + std::to_string(n) + ".jpg";
    return {"/pics/" + folder + name, name, folder, false};
}

TEST(UploadList, AForgottenFolderIsNoLongerOfferedNorKeptByTheJournal) {
    const std::string gone = "RIDEV_2026_12_08/D0001/";
    const std::string kept = "RIDEV_2026_12_08/D00011/";
    Upload_List list;
    Journal_Recorder journal;
    list.Restore({{5, In_Folder(gone, 1)}}, 6);
    list.Attach_Journal(&journal);
    list.Append(In_Folder(kept, 2));                      // 6
    list.Append(In_Folder(gone, 3));                      // 7
    list.Append(In_Folder("RIDEV_2026_12_09/D0001/", 4)); // 8
    list.Append(In_Folder(gone, 5));                      // 9
    const auto in_flight = list.Take_First_Unsent();
    ASSERT_EQ(in_flight->entry.Name, "I_00_00_00__1.jpg");
    journal.told.clear();

    EXPECT_EQ(list.Forget_Folder(gone), 2u);
    EXPECT_EQ(journal.told, (std::vector<std::string>{"D7", "D9"}));
    EXPECT_EQ(list.Unsent_Count(), 2u);
    std::vector<std::string> waiting;
    list.Visit_Unfinished(
        0, 10, [&](uint64_t id, const TFichier&) { waiting.push_back(std::to_string(id)); });
    EXPECT_EQ(waiting, (std::vector<std::string>{"5", "6", "8"})) << "the one being sent stays";
    EXPECT_EQ(list.Forget_Folder(gone), 0u) << "told once only";
    EXPECT_EQ(Taken_Names(list, 5),
              (std::vector<std::string>{"I_00_00_00__2.jpg", "I_00_00_00__4.jpg"}));

    // The worker could not send it: put back, it is forgotten in its turn.
    list.Put_Back(in_flight->id);
    EXPECT_EQ(list.Forget_Folder(gone), 1u);
    EXPECT_FALSE(list.Take_First_Unsent().has_value());
    EXPECT_EQ(journal.told, (std::vector<std::string>{"D7", "D9", "D5"}));
    EXPECT_EQ(list.Forget_Folder("RIDEV_2026_12_09/D0001/"), 0u) << "taken already";
}

TEST(UploadList, ForgettingReleasesTheFrontAndSkipsRefusedEntriesInTheNextRun) {
    const std::string gone = "RIDEV_2026_12_08/R0002/";
    Upload_List list;
    list.Append(In_Folder(gone, 1));
    list.Append(In_Folder(gone, 2));
    list.Append(In_Folder("RIDEV_2026_12_08/R0003/", 3));
    list.Begin_Run();
    const auto refused = list.Take_First_Unsent();
    list.Refuse(refused->id); // waits for the next run
    EXPECT_EQ(list.Forget_Folder(gone), 2u);
    ASSERT_EQ(list.Snapshot().size(), 1u) << "finished entries at the front are let go";
    list.Begin_Run();
    EXPECT_EQ(Taken_Names(list, 3), std::vector<std::string>{"I_00_00_00__3.jpg"});
    EXPECT_EQ(list.Unsent_Count(), 0u);
}

} // namespace
} // namespace vistrel
