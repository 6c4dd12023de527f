#include "upload/upload_service.h"

#include "support/eventually.h"
#include "support/locked_fake_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

Working_Settings Sending() {
    Working_Settings s;
    s.Use_FTP = true;
    s.Sampling_ms = 200;
    s.FTP_Server = "ftp.test";
    s.FTP_Login = "cam";
    return s;
}

using test::Eventually;

class Service : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Upload_List files;
    test::Locked_Session* session = nullptr;

    std::unique_ptr<Upload_Service> Make(bool with_session) {
        std::unique_ptr<test::Locked_Session> owned;
        if (with_session) {
            owned = std::make_unique<test::Locked_Session>();
            session = owned.get();
        }
        return std::make_unique<Upload_Service>(
            std::move(owned), files, Upload_Worker::Hooks{[] { return Sending(); }, nullptr});
    }

    void Record(Upload_List& list, const std::string& name) {
        dir.Write("RIDEV_2026_12_08/D0001/" + name, "jpeg");
        list.Append(
            {dir.File("RIDEV_2026_12_08/D0001/" + name), name, "RIDEV_2026_12_08/D0001/", false});
    }
};

TEST_F(Service, Without_A_Session_Nothing_Is_Sent_But_The_Queue_Is_Kept) {
    const std::string queue = dir.File(kUpload_Queue_File_Name);
    {
        auto service = Make(false);
        EXPECT_FALSE(service->Can_Send());
        EXPECT_EQ(service->Worker(), nullptr);
        EXPECT_EQ(service->Session(), nullptr);
        EXPECT_EQ(service->Queue(), nullptr) << "no queue file before it is opened";
        service->Open_Queue(queue);
        ASSERT_NE(service->Queue(), nullptr);
        Record(files, "a.jpg");
        service->Hold(true);
        service->Wake();
        service->Hold(false);
        service->Wake();
        service->Cut();
        service->Close();
        EXPECT_EQ(files.Unsent_Count(), 1u);
    }
    // The next run, with or without a session, finds the picture waiting.
    for (const bool with_session : {false, true}) {
        SCOPED_TRACE(with_session ? "with a session" : "without a session");
        Upload_List next;
        Upload_Service service(with_session ? std::make_unique<test::Locked_Session>() : nullptr,
                               next, {[] { return Sending(); }, nullptr});
        service.Hold(true); // nothing sent: the queue is the same for the next round
        service.Open_Queue(queue);
        EXPECT_EQ(service.Queue()->Restored(), 1u);
        ASSERT_EQ(next.Unsent_Count(), 1u);
        EXPECT_EQ(next.Snapshot().at(0).Name, "a.jpg");
    }
}

TEST_F(Service, A_Wake_Up_Sends_Unless_Held) {
    auto service = Make(true);
    ASSERT_TRUE(service->Can_Send());
    ASSERT_EQ(service->Session(), session);
    Record(files, "a.jpg");
    service->Hold(true);
    service->Wake();
    EXPECT_FALSE(service->Worker()->Active());
    service->Hold(false);
    service->Wake();
    EXPECT_TRUE(Eventually([&] { return files.Unsent_Count() == 0; }));
    EXPECT_TRUE(Eventually([&] { return !service->Worker()->Active(); }));
    EXPECT_EQ(session->Calls().back(), "STOR a.jpg");
}

// The close must not wait for a server: a run in progress is cut where it
// stands, while an idle connection is only closed for good, without a word
// to the server.
TEST_F(Service, Close_Cuts_A_Run_In_Progress_And_Only_Ends_An_Idle_Session) {
    struct Case {
        const char* what;
        bool running;
        Calls said; // the close's calls
    };
    const Case cases[] = {
        {"idle", false, {"END"}},
        {"running", true, {"ABOR", "QUIT", "END"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Upload_List list;
        auto owned = std::make_unique<test::Locked_Session>();
        test::Locked_Session& s = *owned;
        Upload_Service service(std::move(owned), list, {[] { return Sending(); }, nullptr});
        Record(list, "a.jpg");
        if (c.running) {
            s.Hold_Stores();
            service.Wake();
            ASSERT_TRUE(s.Wait_Until_A_Store_Waits(5s));
        }
        const size_t before = s.Calls().size();
        service.Close();
        const Calls calls = s.Calls();
        EXPECT_EQ(Calls(calls.begin() + static_cast<long>(before), calls.end()), c.said);

        EXPECT_TRUE(Eventually([&] { return !service.Worker()->Active(); }));
        EXPECT_EQ(list.Unsent_Count(), 1u) << "the cut picture waits for the next start";
        // Closed, no run starts any more.
        service.Wake();
        EXPECT_FALSE(service.Worker()->Active());
        EXPECT_EQ(s.Calls().size(), calls.size());
    }
}

TEST_F(Service, Cut_Ends_The_Session_Even_When_Idle) {
    auto service = Make(true);
    service->Cut();
    EXPECT_EQ(session->Calls(), (Calls{"ABOR", "QUIT", "END"}));
}

TEST_F(Service, Dropped_During_A_Run_It_Does_Not_Wait_For_The_Run) {
    auto service = Make(true);
    Record(files, "a.jpg");
    session->Hold_Stores();
    service->Wake();
    ASSERT_TRUE(session->Wait_Until_A_Store_Waits(5s));
    const auto start = std::chrono::steady_clock::now();
    service.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(files.Unsent_Count(), 1u);
}

} // namespace
} // namespace vistrel
