#include "upload/upload_worker.h"

#include "support/fake_ftp_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace vistrel {
namespace {

using test::Fake_Session;

class Worker : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Fake_Session session;
    Upload_List files;
    Working_Settings settings;
    std::vector<std::string> shown;
    Steady_Clock::time_point now{};
    Upload_Worker worker{session,
                         files,
                         {[this] { return settings; },
                          [this](const std::string& name) { shown.push_back(name); },
                          [this] { return now; }}};

    void SetUp() override {
        settings.Use_FTP = true;
        settings.FTP_Server = "ftp.test:2121";
        settings.FTP_Login = "cam";
    }

    void Record(const std::string& folder, const std::string& name) {
        dir.Write(folder + name, "jpeg");
        files.Append({dir.Folder() + folder + name, name, folder, false});
    }

    std::vector<std::string> Run() {
        session.calls.clear();
        worker.TRH_FtpRun();
        return session.calls;
    }
};

using Calls = std::vector<std::string>;

TEST_F(Worker, NothingRecordedOpensNoConnection) {
    EXPECT_EQ(Run(), Calls{});
    settings.Use_FTP = false;
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    EXPECT_EQ(Run(), Calls{});
    EXPECT_FALSE(worker.FTP_Busy());
}

TEST_F(Worker, EachPictureGoesIntoItsEpisodeFolder) {
    Record("RIDEV_2026_12_08/D0003/", "a.jpg");
    Record("RIDEV_2026_12_08/D0003/", "b.jpg");
    Record("RIDEV_2026_12_08/D0004/", "c.jpg");
    EXPECT_EQ(Run(),
              (Calls{"server ftp.test:2121", "user cam", "CONNECT", "LOGIN", "PWD", "CDUP", "LIST",
                     "MKD RIDEV_2026_12_08_D0003", "CWD RIDEV_2026_12_08_D0003", "STOR a.jpg",
                     "PWD", "STOR b.jpg", "PWD", "CDUP", "LIST", "MKD RIDEV_2026_12_08_D0004",
                     "CWD RIDEV_2026_12_08_D0004", "STOR c.jpg"}));
    EXPECT_EQ(Run(), (Calls{})) << "all sent; the client stays connected";
    EXPECT_EQ(shown, (Calls{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_TRUE(files.Snapshot().empty());
}

TEST_F(Worker, ARunSendsWhatWaitsWithinOneSamplingPeriod) {
    struct Case {
        int sampling_ms;
        int store_ms; // what each store takes
        int waiting;
        std::vector<int> sent_by_run;
    };
    const Case cases[] = {
        // A run stops once the next picture would take it past the period.
        {200, 0, 5, {5}},    {200, 80, 5, {2, 2, 1}},     {200, 250, 3, {1, 1, 1}},
        {50, 10, 7, {4, 3}}, {200, 100, 4, {1, 1, 1, 1}}, {200, 60, 4, {3, 1}},
        {1000, 1, 1, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sampling_ms) + " ms period, stores of " +
                     std::to_string(c.store_ms) + " ms");
        Upload_List list;
        Fake_Session client;
        Steady_Clock::time_point clock{};
        client.on_call = [&](const std::string& call) {
            if (call.starts_with("STOR"))
                clock += std::chrono::milliseconds(c.store_ms);
        };
        settings.Sampling_ms = c.sampling_ms;
        Upload_Worker w{
            client, list, {[this] { return settings; }, nullptr, [&] { return clock; }}};
        for (int n = 0; n < c.waiting; ++n) {
            const std::string name = std::to_string(n) + ".jpg";
            dir.Write(name, "jpeg");
            list.Append({dir.Folder() + name, name, "RIDEV_2026_12_08/D0001/", false});
        }
        std::vector<int> sent_by_run;
        std::vector<std::string> order;
        for (int run = 0; run < 10 && list.Unsent_Count() > 0; ++run) {
            client.calls.clear();
            w.TRH_FtpRun();
            int stores = 0;
            for (const std::string& call : client.calls)
                if (call.starts_with("STOR")) {
                    ++stores;
                    order.push_back(call.substr(5));
                }
            sent_by_run.push_back(stores);
        }
        EXPECT_EQ(sent_by_run, c.sent_by_run);
        for (size_t n = 0; n < order.size(); ++n)
            EXPECT_EQ(order[n], std::to_string(n) + ".jpg") << "oldest first";
    }
}

TEST_F(Worker, ARunGivesUpBetweenStepsOnceTerminated) {
    struct Case {
        const char* terminated_at;
        Calls last_calls; // the run's last calls
        size_t unsent;
    };
    const Case cases[] = {
        {"CONNECT", {"CONNECT"}, 2},
        {"LOGIN", {"LOGIN"}, 2},
        {"CDUP", {"PWD", "CDUP"}, 2},
        {"STOR a.jpg", {"STOR a.jpg"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.terminated_at);
        Upload_List list;
        Fake_Session client;
        Upload_Worker w{client, list, {[this] { return settings; }, nullptr, nullptr}};
        for (const char* name : {"a.jpg", "b.jpg"}) {
            dir.Write(name, "jpeg");
            list.Append({dir.Folder() + name, name, "RIDEV_2026_12_08/D0001/", false});
        }
        client.on_call = [&](const std::string& call) {
            if (call == c.terminated_at)
                w.Terminate();
        };
        w.TRH_FtpRun();
        ASSERT_GE(client.calls.size(), c.last_calls.size());
        EXPECT_EQ(
            Calls(client.calls.end() - static_cast<long>(c.last_calls.size()), client.calls.end()),
            c.last_calls);
        EXPECT_EQ(list.Unsent_Count(), c.unsent) << "a picture not sent stays in line";
        EXPECT_FALSE(w.FTP_Busy());
    }
}

TEST_F(Worker, AFolderInTheListingIsEnteredWithoutMakingIt) {
    Record("RIDEV_2026_12_08/D0003/", "a.jpg");
    session.listing = {"-rw-r--r--   1 cam users 4096 Dec  8 14:05 RIDEV_2026_12_08_D0003",
                       "drwxr-xr-x   2 cam users 4096 Dec  8 14:05 ridev_2026_12_08_d0003",
                       "Drwxr-xr-x   2 cam users 4096 Dec  8 14:05 RIDEV_2026_12_08_D0003"};
    const Calls calls = Run();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MKD RIDEV_2026_12_08_D0003"), 0);
    EXPECT_EQ(calls.back(), "STOR a.jpg");
}

TEST_F(Worker, ListingHelpers) {
    EXPECT_EQ(Remote_Folder_Name("RIDEV_2024_03_07/D0003/"), "RIDEV_2024_03_07_D0003");
    EXPECT_EQ(Remote_Folder_Name(""), "");
    EXPECT_TRUE(Listing_Has_Folder({"", "drwxr-xr-x 2 a b 0 Jan 1 2020 My Folder"}, "My Folder"));
    EXPECT_FALSE(Listing_Has_Folder({"drwxr-xr-x 2 a b 0 Jan 1"}, "D0001"));
    EXPECT_FALSE(Listing_Has_Folder({"12-08-26  02:05PM  <DIR>  D0001"}, "D0001"));
}

TEST_F(Worker, RefusedFolderCreationStillTriesToEnterIt) {
    Record("RIDEV_2026_12_08/D0003/", "a.jpg");
    session.failures.emplace("MKD", FTP_Error(550, "exists", "MKD"));
    const Calls calls = Run();
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()),
              (Calls{"CWD RIDEV_2026_12_08_D0003", "STOR a.jpg"}));
    EXPECT_TRUE(files.Snapshot().empty());
}

TEST_F(Worker, FixedNameModeStoresInTheCurrentFolder) {
    settings.Use_Same_File_Name = true;
    Record("RIDEV_2026_12_08/D0003/", "Img_.jpg");
    const Calls calls = Run();
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{"PWD", "STOR Img_.jpg"}));
}

// One run with two pictures waiting, the first failing as the row says:
// what the run stores, and what still waits after it.
TEST_F(Worker, EachKindOfFailureDecidesWhatBecomesOfThePicture) {
    using K = Failure_Kind;
    struct Case {
        const char* what;
        std::string failing;
        FTP_Error error;
        Calls stored;
        size_t waiting;
    };
    const Case cases[] = {
        // Refused: counted against it, and the one behind goes in the same run.
        {"553 to STOR",
         "STOR",
         FTP_Error(553, "not allowed", "STOR", K::Refused),
         {"STOR first.jpg", "STOR second.jpg"},
         1},
        // The folder refused, its other pictures are refused with it.
        {"550 to CWD", "CWD", FTP_Error(550, "a file", "CWD", K::Refused), {}, 2},
        // Anything else ends the run with both waiting, the first still first.
        {"452 to STOR", "STOR", FTP_Error(452, "disk full", "STOR"), {"STOR first.jpg"}, 2},
        {"426 to STOR", "STOR", FTP_Error(426, "aborted", "STOR"), {"STOR first.jpg"}, 2},
        {"500 to PASV", "STOR", FTP_Error(500, "no PASV", "PASV"), {"STOR first.jpg"}, 2},
        {"PROT refused",
         "STOR",
         FTP_Error(534, "no", "PROT", K::Server_Refused),
         {"STOR first.jpg"},
         2},
        {"broken connection", "STOR", FTP_Error(0, "connection reset"), {"STOR first.jpg"}, 2},
        {"PWD refused", "PWD", FTP_Error(550, "no", "PWD"), {}, 2},
        {"CDUP refused", "CDUP", FTP_Error(550, "no", "CDUP"), {}, 2},
        {"LIST refused", "LIST", FTP_Error(425, "no data", "LIST"), {}, 2},
        // Gone from the disk between the look and the store.
        {"local file gone",
         "STOR",
         FTP_Error(0, "cannot open", {}, K::Local_File_Gone),
         {"STOR first.jpg"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Upload_List list;
        Fake_Session client;
        // A clock that stands still: however slow the machine, the run is not
        // cut at the sampling period before the second picture.
        Upload_Worker w{
            client, list, {[this] { return settings; }, nullptr, [this] { return now; }}};
        for (const char* name : {"first.jpg", "second.jpg"}) {
            dir.Write(std::string("RIDEV_2026_12_08/D0001/") + name, "jpeg");
            list.Append({dir.Folder() + "RIDEV_2026_12_08/D0001/" + name, name,
                         "RIDEV_2026_12_08/D0001/", false});
        }
        // The same answer for every picture of the folder, if asked again.
        client.on_call = [&](const std::string& call) {
            if (c.failing == "CWD" && call.starts_with("CWD"))
                throw c.error;
        };
        if (c.failing != "CWD")
            client.failures.emplace(c.failing, c.error);
        w.TRH_FtpRun();
        Calls stored;
        for (const std::string& call : client.calls)
            if (call.starts_with("STOR"))
                stored.push_back(call);
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(list.Unsent_Count(), c.waiting);
        EXPECT_EQ(
            std::count(client.calls.begin(), client.calls.end(), "CWD RIDEV_2026_12_08_D0001"),
            c.failing == "CWD" ? 1
            : c.stored.empty() ? 0
                               : 1)
            << "a folder refused in a run is not asked for again in it";
    }
}

TEST_F(Worker, APictureGoneFromTheDiskIsSkipped) {
    files.Append({dir.Folder() + "missing.jpg", "missing.jpg", "RIDEV_2026_12_08/D0001/", false});
    Record("RIDEV_2026_12_08/D0001/", "b.jpg");
    const Calls first = Run();
    EXPECT_EQ(std::count(first.begin(), first.end(), "STOR missing.jpg"), 0);
    EXPECT_EQ(Run().back(), "STOR b.jpg");
}

TEST_F(Worker, AConnectionThatIsNotLoggedInIsReplaced) {
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    session.refuse_login = true;
    Run();
    EXPECT_TRUE(session.connected);
    EXPECT_FALSE(session.logged_in);
    EXPECT_EQ(files.Unsent_Count(), 1u) << "nothing taken before the login";
    session.refuse_login = false;
    const Calls calls = Run();
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + 5),
              (Calls{"QUIT", "server ftp.test:2121", "user cam", "CONNECT", "LOGIN"}));
    EXPECT_EQ(calls.back(), "STOR a.jpg");
}

TEST_F(Worker, WakeUpsRunOnTheWorkerThreadAndAreNotCountedWhileHeld) {
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    Record("RIDEV_2026_12_08/D0001/", "b.jpg");
    worker.Hold(true);
    worker.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(files.Unsent_Count(), 2u);
    worker.Hold(false);
    worker.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (files.Unsent_Count() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    while (worker.Active() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(files.Unsent_Count(), 0u) << "the wake-up's run sent both";
    EXPECT_FALSE(worker.FTP_Busy());
}

TEST_F(Worker, ActiveFromTheWakeUpUntilTheRunEnds) {
    for (int round = 0; round < 20; ++round) {
        Record("RIDEV_2026_12_08/D0001/", std::to_string(round) + ".jpg");
        worker.Start();
        // Not active any more right after the wake-up only when the whole
        // run is already over; never before the worker's thread took it up.
        if (!worker.Active()) {
            ASSERT_EQ(files.Unsent_Count(), 0u) << "inactive before its run, round " << round;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (worker.Active() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        // Once it is no longer active, its run is over: the picture went.
        ASSERT_EQ(files.Unsent_Count(), 0u) << "round " << round;
    }
}

} // namespace
} // namespace vistrel
