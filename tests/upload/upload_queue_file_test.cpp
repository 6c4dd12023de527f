#include "upload/upload_queue_file.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace vistrel {
namespace {

using namespace std::chrono_literals;

TFichier Picture(int n) {
    const std::string name = "I_14_05_09__" + std::to_string(n) + ".jpg";
    return {"/pics/RIDEV_2026_12_08/R0001/" + name, name, "RIDEV_2026_12_08/R0001/", false};
}

std::vector<std::string> Names(const std::vector<TFichier>& entries) {
    std::vector<std::string> names;
    for (const TFichier& e : entries)
        names.push_back(e.Name);
    return names;
}

std::vector<std::string> Names(const std::vector<Upload_List::Journaled>& entries) {
    std::vector<std::string> names;
    for (const Upload_List::Journaled& e : entries)
        names.push_back(e.entry.Name);
    return names;
}

size_t Lines_Of(const std::string& bytes) {
    return static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
}

TEST(Upload_Queue_Records, Read_Back_Whatever_The_Names_Hold) {
    const TFichier odd[] = {
        {"/pics/a\tb/c.jpg", "c.jpg", "a\tb/", false},
        {"/pics/line\nbreak\r/x.jpg", "x.jpg", "line\nbreak\r/", false},
        {"C:\\old\\style\\\\t.jpg", "t.jpg", "old\\style\\", false},
        {"/bilder/Üben/ß €.jpg", "ß €.jpg", "Üben/", false},
        {"/p/e.jpg", "", "", false},
    };
    std::string file = "vistrel upload queue 1\n";
    uint64_t id = 7;
    for (const TFichier& entry : odd)
        file += Encode_Appended_Record(id++, entry);
    const Upload_Queue_Contents contents = Parse_Upload_Queue(file);
    ASSERT_EQ(contents.pending.size(), std::size(odd));
    for (size_t i = 0; i < std::size(odd); ++i) {
        SCOPED_TRACE(odd[i].Path);
        EXPECT_EQ(contents.pending[i].journal_id, 7 + i);
        EXPECT_EQ(contents.pending[i].entry.Path, odd[i].Path);
        EXPECT_EQ(contents.pending[i].entry.Name, odd[i].Name);
        EXPECT_EQ(contents.pending[i].entry.Folder, odd[i].Folder);
    }
    EXPECT_EQ(contents.next_id, 12u);
    EXPECT_EQ(Lines_Of(Encode_Appended_Record(1, odd[1])), 1u) << "one line per record";
}

TEST(Upload_Queue_Records, Only_Whole_Valid_Records_Count) {
    const std::string a1 = Encode_Appended_Record(1, Picture(1));
    const std::string a2 = Encode_Appended_Record(2, Picture(2));
    const std::string a3 = Encode_Appended_Record(3, Picture(3));
    const std::string d2 = Encode_Finished_Record(2);
    std::string flipped = a3;
    flipped[flipped.size() / 2] ^= 0x20;
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::string> pending;
    };
    const Case cases[] = {
        {"appended and finished", a1 + a2 + a3 + d2, {"I_14_05_09__1.jpg", "I_14_05_09__3.jpg"}},
        {"finished before appended", d2 + a1 + a2, {"I_14_05_09__1.jpg"}},
        {"a torn last line", a1 + a2.substr(0, a2.size() - 5), {"I_14_05_09__1.jpg"}},
        {"a torn record followed by more",
         a1 + a2.substr(0, 20) + "\n" + a3,
         {"I_14_05_09__1.jpg", "I_14_05_09__3.jpg"}},
        {"a byte changed", a1 + flipped, {"I_14_05_09__1.jpg"}},
        {"zeros the disk left",
         a1 + std::string(4096, '\0') + "\n" + a2,
         {"I_14_05_09__1.jpg", "I_14_05_09__2.jpg"}},
        {"the same record twice", a1 + a1, {"I_14_05_09__1.jpg"}},
        {"a finish cut short", a1 + d2.substr(0, d2.size() - 1) + "\n", {"I_14_05_09__1.jpg"}},
        {"nothing", "", {}},
        {"somebody else's file", "[integer]\r\nCKB_Use_FTP=1\r\n", {}},
        {"an unknown kind", "X 1 00000000\n" + a2, {"I_14_05_09__2.jpg"}},
        {"an id with a leading zero", "A 01" + a1.substr(3), {}},
        {"an id beyond any count",
         Encode_Appended_Record(uint64_t{1} << 63, Picture(1)) + a2,
         {"I_14_05_09__2.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Names(Parse_Upload_Queue(c.file).pending), c.pending);
    }
}

// Refusal counts ride along the entries: the highest seen counts, whatever
// the order of the records, and only for an entry still waiting.
TEST(Upload_Queue_Records, Refusal_Counts_Are_Read_Back_With_Their_Entries) {
    const std::string a1 = Encode_Appended_Record(1, Picture(1));
    const std::string a2 = Encode_Appended_Record(2, Picture(2));
    const std::string r1_1 = Encode_Refused_Record(1, 1);
    const std::string r1_2 = Encode_Refused_Record(1, 2);
    std::string garbled = r1_2;
    garbled[garbled.size() - 2] = '7'; // the count, not matching its checksum
    struct Case {
        const char* name;
        std::string file;
        std::vector<uint32_t> refusals; // of the pending entries, in order
    };
    const Case cases[] = {
        {"none: a file of the earlier kind", a1 + a2, {0, 0}},
        {"counted up", a1 + r1_1 + a2 + r1_2, {2, 0}},
        {"the highest, whatever the order", r1_2 + a1 + r1_1 + a2, {2, 0}},
        {"for an entry finished since", a1 + r1_2 + a2 + Encode_Finished_Record(1), {0}},
        {"for an entry nobody appended", a2 + Encode_Refused_Record(9, 2), {0}},
        {"a garbled count", a1 + garbled, {0}},
        {"a count of zero", a1 + Encode_Refused_Record(1, 0), {0}},
        {"no count at all", a1 + "R 1 " + r1_1.substr(4, 8) + "\n", {0}},
        {"a torn count", a1 + r1_2.substr(0, r1_2.size() - 2) + "\n", {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Upload_Queue_Contents contents = Parse_Upload_Queue(c.file);
        std::vector<uint32_t> refusals;
        for (const Upload_List::Journaled& e : contents.pending)
            refusals.push_back(e.refusals);
        EXPECT_EQ(refusals, c.refusals);
    }
    EXPECT_EQ(Lines_Of(r1_2), 1u);
    EXPECT_EQ(r1_2.substr(0, 4), "R 1 ");
    EXPECT_EQ(r1_2.substr(12), " 2\n");
}

// A list kept in a queue file, as the window keeps it, with pictures that
// exist unless a test says otherwise.
class Queue : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    std::set<std::string> gone;
    std::atomic<int> syncs{0};

    std::string Path() const { return dir.File("upload_queue"); }

    Upload_Queue_File::Options Options(size_t slack = 256) {
        Upload_Queue_File::Options options;
        options.sync_interval = 50ms;
        options.slack = slack;
        options.sync = [this](int) {
            ++syncs;
            return 0;
        };
        options.picture_exists = [this](const std::string& path) { return gone.count(path) == 0; };
        return options;
    }
};

TEST_F(Queue, What_Was_Not_Sent_Comes_Back_First_At_The_Next_Start) {
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options());
        EXPECT_EQ(queue.Restored(), 0u);
        for (int n = 1; n <= 4; ++n)
            files.Append(Picture(n));
        const auto first = files.Take_First_Unsent();
        files.Finish(first->id); // sent
        const auto second = files.Take_First_Unsent();
        files.Put_Back(second->id); // a failed store: still waiting
        const auto taken = files.Take_First_Unsent();
        (void)taken; // in flight when the program ends
    }
    EXPECT_EQ(test::Mode_Of(Path()), 0600u);
    Upload_List files;
    EXPECT_FALSE(files.Ever_Appended());
    Upload_Queue_File queue(Path(), files, Options());
    EXPECT_EQ(queue.Restored(), 3u);
    files.Append(Picture(5));
    EXPECT_TRUE(files.Ever_Appended());
    EXPECT_EQ(files.Unsent_Count(), 4u);
    EXPECT_EQ(Names(files.Snapshot()),
              (std::vector<std::string>{"I_14_05_09__2.jpg", "I_14_05_09__3.jpg",
                                        "I_14_05_09__4.jpg", "I_14_05_09__5.jpg"}));
    // The journal ids go on, so this run's records add to the same file.
    const Upload_Queue_Contents contents = Parse_Upload_Queue(dir.Read("upload_queue"));
    ASSERT_EQ(contents.pending.size(), 4u);
    EXPECT_GT(contents.pending.back().journal_id, contents.pending[2].journal_id);
}

TEST_F(Queue, Refusal_Counts_Outlive_A_Restart_And_A_Rewrite) {
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options(0));
        for (int n = 1; n <= 3; ++n)
            files.Append(Picture(n));
        for (int run = 0; run < 2; ++run) {
            files.Begin_Run();
            files.Refuse(files.Take_First_Unsent()->id);
        }
        files.Begin_Run();
        files.Take_First_Unsent(); // refused twice, now in flight
        files.Refuse(files.Take_First_Unsent()->id);
    }
    const auto refusals_after_restart = [this] {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options(0));
        std::vector<uint32_t> refusals;
        files.Visit_Journaled(
            0, 10, [&](const Upload_List::Journaled& e) { refusals.push_back(e.refusals); });
        return refusals;
    };
    EXPECT_EQ(refusals_after_restart(), (std::vector<uint32_t>{2, 1, 0}));

    // Rewritten with every other entry finished: the counts stay.
    {
        Upload_List files;
        Upload_Queue_File::Options options = Options(0);
        options.sync_interval = std::chrono::hours(1); // rewritten here only
        Upload_Queue_File queue(Path(), files, options);
        for (int n = 4; n <= 40; ++n)
            files.Append(Picture(n));
        files.Begin_Run();
        files.Refuse(files.Take_First_Unsent()->id); // the first, a third time
        for (int n = 0; n < 37; ++n)
            if (const auto taken = files.Take_First_Unsent(); taken && n % 2 == 1)
                files.Finish(taken->id);
        const size_t before = Lines_Of(dir.Read("upload_queue"));
        queue.Maintain();
        EXPECT_LT(Lines_Of(dir.Read("upload_queue")), before) << "it was rewritten";
    }
    const std::vector<uint32_t> refusals = refusals_after_restart();
    ASSERT_FALSE(refusals.empty());
    EXPECT_EQ(refusals[0], 3u);
    EXPECT_EQ(refusals[1], 1u);
}

TEST_F(Queue, Entries_Whose_Picture_Is_Gone_Are_Dropped_For_Good) {
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options());
        for (int n = 1; n <= 3; ++n)
            files.Append(Picture(n));
    }
    gone.insert(Picture(2).Path);
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options());
        EXPECT_EQ(queue.Restored(), 2u);
        EXPECT_EQ(queue.Dropped(), 1u);
    }
    gone.clear(); // back on the disk: the entry stays gone all the same
    Upload_List files;
    Upload_Queue_File queue(Path(), files, Options());
    EXPECT_EQ(queue.Dropped(), 0u);
    EXPECT_EQ(Names(files.Snapshot()),
              (std::vector<std::string>{"I_14_05_09__1.jpg", "I_14_05_09__3.jpg"}));
}

TEST_F(Queue, The_File_Follows_The_Backlog_Not_The_History) {
    Upload_List files;
    Upload_Queue_File queue(Path(), files, Options(16));
    for (int n = 0; n < 1000; ++n) {
        files.Append(Picture(n));
        if (n % 100 != 99) {
            const auto taken = files.Take_First_Unsent();
            files.Finish(taken->id);
        }
        if (n % 50 == 0)
            queue.Maintain();
    }
    queue.Maintain();
    const std::string bytes = dir.Read("upload_queue");
    // Ten wait; a rewrite is due only past twice the backlog and the slack.
    EXPECT_LE(Lines_Of(bytes), 1 + 2 * 10 + 16 + 1u);
    EXPECT_EQ(Parse_Upload_Queue(bytes).pending.size(), 10u);
    EXPECT_EQ(test::Mode_Of(Path()), 0600u) << "a rewrite keeps it private";
    for (const std::string& name : test::Entries(dir.Path()))
        EXPECT_EQ(name, "upload_queue") << "no temporary left behind";
}

TEST_F(Queue, A_Rewrite_Loses_Nothing_Appended_Meanwhile) {
    Upload_List files;
    Upload_Queue_File queue(Path(), files, Options(0));
    std::atomic<bool> done{false};
    std::thread rewriting([&] {
        while (!done)
            queue.Maintain();
    });
    // The tick appends while the worker sends and the file is rewritten.
    for (int n = 0; n < 3000; ++n) {
        files.Append(Picture(n));
        if (n % 3 != 0) {
            const auto taken = files.Take_First_Unsent();
            files.Finish(taken->id);
        }
    }
    done = true;
    rewriting.join();
    const std::vector<TFichier> waiting = files.Snapshot();
    const Upload_Queue_Contents contents = Parse_Upload_Queue(dir.Read("upload_queue"));
    std::vector<std::string> unfinished;
    for (std::optional<Upload_List::Entry_Id> next = 0; next;)
        next = files.Visit_Unfinished(
            *next, 7, [&](uint64_t, const TFichier& e) { unfinished.push_back(e.Name); });
    EXPECT_EQ(Names(contents.pending), unfinished);
    EXPECT_EQ(unfinished.size(), 1000u);
    // Once more with nothing going on: at most twice the backlog is left of
    // the 5000 records it was told of.
    queue.Maintain();
    EXPECT_LE(Lines_Of(dir.Read("upload_queue")), 1 + 2 * unfinished.size());
    EXPECT_EQ(Names(Parse_Upload_Queue(dir.Read("upload_queue")).pending), unfinished);
}

TEST_F(Queue, A_Line_Left_Torn_By_A_Crash_Spoils_Nothing_After_It) {
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options());
        files.Append(Picture(1));
    }
    std::ofstream(Path(), std::ios::app) << Encode_Appended_Record(99, Picture(2)).substr(0, 30);
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options());
        EXPECT_EQ(queue.Restored(), 1u);
        files.Append(Picture(3));
    }
    Upload_List files;
    Upload_Queue_File queue(Path(), files, Options());
    EXPECT_EQ(Names(files.Snapshot()),
              (std::vector<std::string>{"I_14_05_09__1.jpg", "I_14_05_09__3.jpg"}));
}

TEST_F(Queue, A_Record_Cut_Just_Before_Its_Line_End_Lends_Its_Id_To_Nobody) {
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options());
        files.Append(Picture(1));
    }
    // A write stopped one byte short: the record is whole but for its end.
    const std::string cut = Encode_Appended_Record(1, Picture(2));
    std::ofstream(Path(), std::ios::app) << cut.substr(0, cut.size() - 1);
    EXPECT_EQ(Parse_Upload_Queue(dir.Read("upload_queue")).next_id, 2u);
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options());
        EXPECT_EQ(queue.Restored(), 1u) << "not read while it has no end";
        files.Append(Picture(3)); // ends the cut line, under an id of its own
    }
    Upload_List files;
    Upload_Queue_File queue(Path(), files, Options());
    EXPECT_EQ(
        Names(files.Snapshot()),
        (std::vector<std::string>{"I_14_05_09__1.jpg", "I_14_05_09__2.jpg", "I_14_05_09__3.jpg"}));
}

TEST_F(Queue, Is_Kept_Private_And_Works_Without_A_Usable_File) {
    dir.Write("upload_queue", "");
    ::chmod(Path().c_str(), 0644);
    {
        Upload_List files;
        Upload_Queue_File queue(Path(), files, Options());
        EXPECT_EQ(test::Mode_Of(Path()), 0600u);
    }
    // A data folder that cannot be written: the list lives in memory.
    Upload_List files;
    Upload_Queue_File queue(dir.File("no/such/folder/upload_queue"), files, Options());
    files.Append(Picture(1));
    queue.Maintain();
    EXPECT_EQ(files.Unsent_Count(), 1u);
    const auto taken = files.Take_First_Unsent();
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->entry.Name, "I_14_05_09__1.jpg");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "no")) << "nothing made on the way";
}

TEST_F(Queue, Closing_Does_Not_Wait_For_A_Disk_That_Hangs) {
    // Shared with the flushing thread, which outlives the queue here.
    struct Disk {
        std::promise<void> answer;
        std::shared_future<void> answered = answer.get_future().share();
        std::atomic<bool> flushing{false};
        std::atomic<bool> flushed{false};
    };
    const auto disk = std::make_shared<Disk>();
    Upload_Queue_File::Options options = Options();
    options.sync = [disk](int) {
        disk->flushing = true;
        disk->answered.wait(); // a disk that does not answer
        disk->flushed = true;
        return 0;
    };
    auto files = std::make_unique<Upload_List>();
    auto queue = std::make_unique<Upload_Queue_File>(Path(), *files, options);
    files->Append(Picture(1));
    const auto deadline = Steady_Clock::now() + 10s;
    while (!disk->flushing && Steady_Clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(disk->flushing);
    const auto start = Steady_Clock::now();
    queue.reset();
    files.reset(); // the flush still under way no longer touches the list
    EXPECT_LT(Steady_Clock::now() - start, 1500ms);
    disk->answer.set_value();
    while (!disk->flushed && Steady_Clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    Upload_List again;
    Upload_Queue_File reread(Path(), again, Options());
    EXPECT_EQ(reread.Restored(), 1u) << "written before the flush was asked for";
}

TEST_F(Queue, A_File_Grown_By_Runs_Too_Short_To_Rewrite_It_Shrinks_At_The_Next_Start) {
    // What runs killed soon after each start leave: the whole history.
    std::string history = "vistrel upload queue 1\n";
    for (uint64_t id = 1; id <= 120; ++id)
        history += Encode_Appended_Record(id, Picture(int(id))) + Encode_Finished_Record(id);
    history += Encode_Appended_Record(121, Picture(999)); // still to be sent
    dir.Write("upload_queue", history);

    Upload_Queue_File::Options never_by_itself = Options(16);
    never_by_itself.sync_interval = 1h;
    Upload_List files;
    Upload_Queue_File queue(Path(), files, never_by_itself);
    EXPECT_EQ(queue.Restored(), 1u);
    const auto deadline = Steady_Clock::now() + 10s;
    while (Lines_Of(dir.Read("upload_queue")) > 2 && Steady_Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    const std::string bytes = dir.Read("upload_queue");
    EXPECT_EQ(Lines_Of(bytes), 2u) << "the header and the one picture still waiting";
    EXPECT_EQ(Names(Parse_Upload_Queue(bytes).pending),
              (std::vector<std::string>{"I_14_05_09__999.jpg"}));
}

TEST_F(Queue, Flushes_Soon_After_A_Change_But_Never_More_Than_Once_An_Interval) {
    std::vector<Steady_Clock::time_point> flushed;
    std::mutex mutex;
    Upload_Queue_File::Options options = Options();
    options.sync_interval = 200ms;
    options.sync = [&](int) {
        std::lock_guard lock(mutex);
        flushed.push_back(Steady_Clock::now());
        return 0;
    };
    Upload_List files;
    Upload_Queue_File queue(Path(), files, options);
    std::this_thread::sleep_for(300ms);
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(flushed.empty()) << "nothing written, nothing to flush";
    }
    const auto end = Steady_Clock::now() + 1s;
    while (Steady_Clock::now() < end) {
        files.Append(Picture(1));
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(1s);
    std::lock_guard lock(mutex);
    ASSERT_GE(flushed.size(), 2u) << "a second of changes is flushed as it goes";
    EXPECT_LE(flushed.size(), 8u);
    for (size_t i = 1; i < flushed.size(); ++i)
        EXPECT_GE(flushed[i] - flushed[i - 1], 190ms) << "flush " << i;
    EXPECT_GE(flushed.back(), end) << "the last changes are flushed too";
    EXPECT_LE(flushed.back() - end, 900ms);
}

} // namespace
} // namespace vistrel
