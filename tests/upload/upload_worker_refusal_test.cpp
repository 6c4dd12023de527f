// The worker facing a server that says no: to a picture or its folder
// (counted, then given up), or to us (left alone for a while), and settings
// that change under an open connection.
#include "upload/upload_worker.h"

#include "upload/refused_pictures.h"

#include "support/fake_ftp_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using test::Fake_Session;
using Calls = std::vector<std::string>;

class Refusals : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Fake_Session session;
    Upload_List files;
    Working_Settings settings;
    Steady_Clock::time_point now{};
    Upload_Worker worker{
        session,
        files,
        {[this] { return settings; }, nullptr, [this] { return now; }, dir.File("upload_refused")}};

    void SetUp() override {
        settings.Use_FTP = true;
        settings.FTP_Server = "ftp.test:2121";
        settings.FTP_Login = "cam";
        settings.FTP_Password = "pw";
    }

    std::string Record(const std::string& folder, const std::string& name) {
        dir.Write(folder + name, "jpeg");
        files.Append({dir.Folder() + folder + name, name, folder, false});
        return dir.Folder() + folder + name;
    }

    Calls Run() {
        session.calls.clear();
        worker.TRH_FtpRun();
        return session.calls;
    }

    static Calls Stores(const Calls& calls) {
        Calls stores;
        for (const std::string& call : calls)
            if (call.starts_with("STOR"))
                stores.push_back(call);
        return stores;
    }

    static long Count(const Calls& calls, const std::string& call) {
        return std::count(calls.begin(), calls.end(), call);
    }
};

// A plain file on the server has the name of the first episode's folder.
TEST_F(Refusals, A_Refused_Episode_Leaves_The_Queue_After_Three_Runs_And_Holds_Nothing_Back) {
    const std::string a = Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    const std::string b = Record("RIDEV_2026_12_08/D0001/", "b.jpg");
    Record("RIDEV_2026_12_08/D0002/", "c.jpg");
    session.on_call = [](const std::string& call) {
        if (call == "CWD RIDEV_2026_12_08_D0001")
            throw FTP_Error(550, "Not a directory.", "CWD", Failure_Kind::Refused);
    };

    Calls calls = Run();
    EXPECT_EQ(Stores(calls), Calls{"STOR c.jpg"}) << "the next episode goes in the first run";
    EXPECT_EQ(Count(calls, "CWD RIDEV_2026_12_08_D0001"), 1) << "asked once for both";
    EXPECT_EQ(files.Unsent_Count(), 2u);

    calls = Run();
    EXPECT_EQ(Stores(calls), Calls{});
    EXPECT_EQ(Count(calls, "CWD RIDEV_2026_12_08_D0001"), 1) << "each run asks again";
    EXPECT_EQ(files.Unsent_Count(), 2u);
    EXPECT_EQ(worker.Refused_Count(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.File("upload_refused")));

    Run();
    EXPECT_EQ(files.Unsent_Count(), 0u);
    EXPECT_TRUE(files.Snapshot().empty());
    EXPECT_EQ(worker.Refused_Count(), 2u);
    EXPECT_EQ(dir.Read("upload_refused"), a + "\n" + b + "\n");
    EXPECT_EQ(test::Mode_Of(dir.File("upload_refused")), 0600u);
    EXPECT_TRUE(std::filesystem::exists(a)) << "the picture stays on the disk";

    // Gone from the queue: the next runs leave the server alone.
    EXPECT_EQ(Count(Run(), "CWD RIDEV_2026_12_08_D0001"), 0);
}

// A list that cannot be written must not let a picture go unlisted.
TEST_F(Refusals, A_Picture_The_List_Cannot_Take_Stays_Queued) {
    std::filesystem::create_directory(dir.File("upload_refused")); // not a file
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    session.on_call = [](const std::string& call) {
        if (call == "STOR a.jpg")
            throw FTP_Error(553, "name not allowed", "STOR", Failure_Kind::Refused);
    };
    for (int run = 0; run < 5; ++run)
        Run();
    EXPECT_EQ(files.Unsent_Count(), 1u);
    EXPECT_EQ(worker.Refused_Count(), 0u);

    // Once the list can be written again, the picture goes there.
    std::filesystem::remove(dir.File("upload_refused"));
    Run();
    EXPECT_EQ(files.Unsent_Count(), 0u);
    EXPECT_EQ(worker.Refused_Count(), 1u);
    EXPECT_EQ(dir.Read("upload_refused"), dir.Folder() + "RIDEV_2026_12_08/D0001/a.jpg\n");
}

// Other tools read the list: a path is written as it is, one a line.
TEST(Refused_List, Holds_Each_Path_As_It_Is_On_A_Line_Of_Its_Own) {
    test::Temp_Dir dir;
    Refused_Pictures list(dir.File("upload_refused"));
    const std::string plain = "/pics/RIDEV_2026_12_08/D0001/I_10_00_00__00001.jpg";
    const std::string odd = "/media/c\\am d\xc3\xa9j\xc3\xa0/I_10_00_01__00002.jpg";
    const std::string broken = "/pics/two\nlines.jpg";
    for (const std::string& path : {plain, odd, broken})
        EXPECT_TRUE(list.Add(path));
    EXPECT_EQ(dir.Read("upload_refused"), plain + "\n" + odd + "\n" + "/pics/two\\nlines.jpg\n");
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(Refused_Pictures(dir.File("upload_refused")).Count(), 3u) << "counted again at start";
}

TEST_F(Refusals, Refusals_Counted_Before_A_Restart_Count) {
    dir.Write("RIDEV_2026_12_08/D0001/a.jpg", "jpeg");
    files.Restore({{5,
                    {dir.Folder() + "RIDEV_2026_12_08/D0001/a.jpg", "a.jpg",
                     "RIDEV_2026_12_08/D0001/", false},
                    2}},
                  6);
    session.failures.emplace("STOR",
                             FTP_Error(553, "name not allowed", "STOR", Failure_Kind::Refused));
    Run();
    EXPECT_EQ(files.Unsent_Count(), 0u) << "its third refusal";
    EXPECT_EQ(worker.Refused_Count(), 1u);
}

TEST_F(Refusals, The_Refused_List_Already_There_Is_Counted) {
    dir.Write("upload_refused", "/p/one.jpg\n/p/two.jpg\n");
    Upload_List list;
    Upload_Worker w{
        session, list, {[this] { return settings; }, nullptr, nullptr, dir.File("upload_refused")}};
    EXPECT_EQ(w.Refused_Count(), 2u);
}

// A server that refuses the login is asked again after 10 s, then 20, 40 ...
// up to 5 minutes; nothing goes to it in between.
TEST_F(Refusals, A_Server_That_Refuses_Us_Is_Left_Alone_Longer_Each_Time) {
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    bool refuse = true;
    session.on_call = [&](const std::string& call) {
        if (call == "LOGIN" && refuse)
            throw FTP_Error(530, "Login incorrect.", "PASS", Failure_Kind::Server_Refused);
    };
    EXPECT_EQ(Count(Run(), "LOGIN"), 1);
    for (const int wait : {10, 20, 40, 80, 160, 300, 300}) {
        SCOPED_TRACE(wait);
        now += std::chrono::seconds(wait) - 1ms;
        EXPECT_EQ(Run(), Calls{}) << "nothing at all before the wait is over";
        EXPECT_TRUE(worker.Waiting_After_Refusal());
        now += 1ms;
        EXPECT_EQ(Count(Run(), "LOGIN"), 1);
    }

    // The login goes through: a later refusal starts again from 10 s.
    refuse = false;
    now += 300s;
    EXPECT_EQ(Stores(Run()), Calls{"STOR a.jpg"});
    Record("RIDEV_2026_12_08/D0001/", "b.jpg");
    session.Disconnect();
    refuse = true;
    Run();
    now += 10s;
    EXPECT_EQ(Count(Run(), "LOGIN"), 1);
}

TEST_F(Refusals, The_Wait_Ends_When_The_Settings_Change_Or_The_Test_Succeeds) {
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    session.on_call = [](const std::string& call) {
        if (call == "CONNECT")
            throw FTP_Error(0, "The server's certificate is not trusted", "AUTH",
                            Failure_Kind::Server_Refused);
    };
    struct Case {
        const char* what;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"another password", [&] { settings.FTP_Password = "new"; }},
        {"another login", [&] { settings.FTP_Login = "other"; }},
        {"another server", [&] { settings.FTP_Server = "ftps://ftp.test:2121"; }},
        {"the connection test got through", [&] { worker.Connection_Test_Succeeded(); }},
    };
    Run();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        now += 1s;
        EXPECT_EQ(Run(), Calls{});
        c.change();
        EXPECT_EQ(Count(Run(), "CONNECT"), 1) << "at once";
    }
    // Refused once more, it waits again.
    now += 1s;
    EXPECT_EQ(Run(), Calls{});
}

TEST_F(Refusals, A_Connection_That_Fails_Is_Tried_Again_At_The_Next_Tick) {
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    session.on_call = [](const std::string& call) {
        if (call == "CONNECT")
            throw FTP_Error(0, "connection refused");
    };
    for (int run = 0; run < 3; ++run) {
        now += 200ms;
        EXPECT_EQ(Count(Run(), "CONNECT"), 1);
        EXPECT_FALSE(worker.Waiting_After_Refusal());
    }
}

// Nothing more goes out on a connection made before the server, the login
// or the password changed: after ftp:// to ftps://, it would go in clear.
TEST_F(Refusals, A_Change_Of_Server_Closes_The_Open_Connection_Before_Anything_Else) {
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    Run();
    ASSERT_TRUE(session.logged_in);

    // With nothing to send, it is closed all the same, and made anew.
    settings.FTP_Login = "other";
    Calls calls = Run();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "QUIT");
    EXPECT_EQ(Count(calls, "user other"), 1);
    EXPECT_EQ(Run(), Calls{}) << "the new one is kept";

    Record("RIDEV_2026_12_08/D0001/", "c.jpg");
    settings.FTP_Server = "ftps://ftp.test:2121";
    calls = Run();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + 3),
              (Calls{"QUIT", "server ftps://ftp.test:2121", "user other"}));

    // Changed in the middle of a run: it stops at once.
    Record("RIDEV_2026_12_08/D0001/", "d.jpg");
    Record("RIDEV_2026_12_08/D0001/", "e.jpg");
    session.on_call = [&](const std::string& call) {
        if (call == "STOR d.jpg")
            settings.FTP_Password = "typed meanwhile";
    };
    const Calls during = Run();
    EXPECT_EQ(Stores(during), Calls{"STOR d.jpg"});
    EXPECT_EQ(during.back(), "QUIT");
    EXPECT_EQ(files.Unsent_Count(), 1u);
}

TEST_F(Refusals, A_Connection_Left_By_Whoever_Held_The_Worker_Is_Not_Used) {
    Record("RIDEV_2026_12_08/D0001/", "a.jpg");
    Run();
    worker.Hold(true);
    // The connection test connects as it is told to, then lets go.
    session.connected = session.logged_in = true;
    worker.Hold(false);
    const Calls calls = Run();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "QUIT");
}

} // namespace
} // namespace vistrel
