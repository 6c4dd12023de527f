#include "upload/connection_test_runner.h"

#include "support/eventually.h"
#include "support/fake_ftp_server.h"
#include "support/fake_ftp_session.h"
#include "support/locked_fake_session.h"
#include "support/temp_dir.h"
#include "upload/ftp_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

Working_Settings Test_Settings(const std::string& server) {
    Working_Settings s;
    s.Use_FTP = true;
    s.Sampling_ms = 200;
    s.FTP_Server = server;
    s.FTP_Login = "cam";
    s.FTP_Password = "s3cret";
    return s;
}

// The outcome handed over from the test's thread.
struct Outcome_Box {
    std::promise<Connection_Test_Outcome> promise;
    std::future<Connection_Test_Outcome> future = promise.get_future();

    std::function<void(const Connection_Test_Outcome&)> Done() {
        return [this](const Connection_Test_Outcome& o) { promise.set_value(o); };
    }
    bool Ready(std::chrono::milliseconds limit) {
        return future.wait_for(limit) == std::future_status::ready;
    }
};

using test::Eventually;

size_t Count(const Calls& calls, const std::string& call) {
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

// A worker that sends to a recording session, and a runner beside it.
class Runner : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    const Working_Settings settings = Test_Settings("ftp.test");
    Upload_List files;
    test::Locked_Session* session = nullptr;
    std::unique_ptr<Upload_Service> service;
    std::unique_ptr<Connection_Test_Runner> runner;

    void SetUp() override {
        dir.Write("datas.ini", "[string]\r\nEDT_FTP_Password=s3cret\r\n");
        auto owned = std::make_unique<test::Locked_Session>();
        session = owned.get();
        service = std::make_unique<Upload_Service>(
            std::move(owned), files, Upload_Worker::Hooks{[this] { return settings; }, nullptr});
        runner = std::make_unique<Connection_Test_Runner>(*service, dir.File("datas.ini"));
    }

    void Record(const std::string& name) {
        dir.Write("RIDEV_2026_12_08/D0001/" + name, "jpeg");
        files.Append(
            {dir.File("RIDEV_2026_12_08/D0001/" + name), name, "RIDEV_2026_12_08/D0001/", false});
    }

    // The worker's run with a store in progress.
    void Run_Held_At_Its_Store() {
        Record("a.jpg");
        session->Hold_Stores();
        service->Wake();
        ASSERT_TRUE(session->Wait_Until_A_Store_Waits(5s));
    }

    bool Worker_Idle() {
        return Eventually([&] { return !service->Worker()->Active(); });
    }
};

TEST_F(Runner, Waits_For_The_Run_In_Progress_And_Tests_Right_After_It) {
    Run_Held_At_Its_Store();
    const Calls during_run = session->Calls();
    Outcome_Box box;
    ASSERT_TRUE(runner->Start(settings, box.Done()));
    EXPECT_TRUE(runner->Running());
    EXPECT_FALSE(runner->Start(settings, [](const Connection_Test_Outcome&) {
        ADD_FAILURE() << "a second test while one runs";
    }));

    // However long the store takes, the test keeps off the session.
    EXPECT_FALSE(box.Ready(200ms));
    EXPECT_EQ(session->Calls(), during_run);

    session->Let_Stores_Go();
    ASSERT_TRUE(box.Ready(5s));
    const Connection_Test_Outcome outcome = box.future.get();
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(outcome.failure, "");
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_FALSE(outcome.untrusted);
    EXPECT_FALSE(outcome.unknown_key);
    EXPECT_FALSE(runner->Running());

    const Calls calls = session->Calls();
    const auto store = std::find(calls.begin(), calls.end(), "STOR a.jpg");
    ASSERT_NE(store, calls.end());
    EXPECT_EQ(Calls(store + 1, calls.end()), (Calls{"server ftp.test", "user cam", "ABOR", "QUIT",
                                                    "CONNECT", "LOGIN", "APPE datas.ini"}))
        << "the run's connection is replaced by the test's";
    runner->Release();
}

TEST_F(Runner, The_Worker_Stays_Held_Until_The_Outcome_Is_Released) {
    Outcome_Box box;
    ASSERT_TRUE(runner->Start(settings, box.Done()));
    // A wake-up between the start and the release is dropped: the session
    // is the test's until then.
    Record("a.jpg");
    service->Wake();
    EXPECT_FALSE(service->Worker()->Active());
    ASSERT_TRUE(box.Ready(5s));
    EXPECT_TRUE(box.future.get().sent);
    service->Wake();
    EXPECT_FALSE(service->Worker()->Active());
    EXPECT_EQ(files.Unsent_Count(), 1u);

    runner->Release();
    service->Wake();
    EXPECT_TRUE(Eventually([&] { return files.Unsent_Count() == 0; }));
    EXPECT_TRUE(Worker_Idle());
    EXPECT_EQ(Count(session->Calls(), "STOR a.jpg"), 1u);

    // Released, a new test may start.
    Outcome_Box again;
    ASSERT_TRUE(runner->Start(settings, again.Done()));
    ASSERT_TRUE(again.Ready(5s));
    EXPECT_TRUE(again.future.get().sent);
    runner->Release();
}

TEST_F(Runner, Cancelled_While_Waiting_It_Makes_No_Connection) {
    Run_Held_At_Its_Store();
    Outcome_Box box;
    ASSERT_TRUE(runner->Start(settings, box.Done()));
    EXPECT_FALSE(box.Ready(50ms));
    runner->Cancel();
    ASSERT_TRUE(box.Ready(5s));
    const Connection_Test_Outcome outcome = box.future.get();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.failure, "") << "a cancel is no error to show";
    EXPECT_FALSE(runner->Running());

    ASSERT_TRUE(Worker_Idle());
    runner->Release();
    const Calls calls = session->Calls();
    EXPECT_EQ(Count(calls, "server ftp.test"), 1u) << "the worker's own run only";
    EXPECT_EQ(Count(calls, "CONNECT"), 1u);
    EXPECT_EQ(Count(calls, "APPE datas.ini"), 0u);
    EXPECT_EQ(Calls(calls.end() - 3, calls.end()), (Calls{"ABOR", "QUIT", "END"}))
        << "the cut ends the run's store and the session";
    EXPECT_EQ(files.Unsent_Count(), 1u) << "the cut picture waits for the next run";
}

TEST(Runner_Without_Session, Never_Starts) {
    Upload_List files;
    Upload_Service service(nullptr, files, {[] { return Working_Settings(); }, nullptr});
    Connection_Test_Runner runner(service, "/nonexistent/datas.ini");
    EXPECT_FALSE(runner.Start(Test_Settings("ftp.test"), [](const Connection_Test_Outcome&) {
        ADD_FAILURE() << "no test without a session";
    }));
    EXPECT_FALSE(runner.Running());
    runner.Cancel();
    runner.Release();
}

// The test's connection waits on a server that never greets: closing the
// window must not wait for the connection's time limits.
TEST(Runner_Destroyed, While_Its_Test_Hangs_On_A_Silent_Server_Returns_At_Once) {
    test::Temp_Dir dir;
    dir.Write("datas.ini", "[string]\r\n");
    test::Fake_Ftp_Server silent(std::vector<test::Ftp_Step>{});
    auto client = std::make_unique<FTP_Client>();
    client->Connect_Timeout = client->Read_Timeout = client->Stall_Timeout = 60s;
    Upload_List files;
    const Working_Settings settings = Test_Settings("127.0.0.1:" + std::to_string(silent.Port()));
    Upload_Service service(std::move(client), files, {[settings] { return settings; }, nullptr});
    auto runner = std::make_unique<Connection_Test_Runner>(service, dir.File("datas.ini"));
    Outcome_Box box;
    ASSERT_TRUE(runner->Start(settings, box.Done()));
    ASSERT_TRUE(Eventually([&] { return silent.Connections() == 1; }));
    EXPECT_FALSE(box.Ready(100ms)) << "still waiting for the greeting";

    const auto start = std::chrono::steady_clock::now();
    runner.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    ASSERT_TRUE(box.Ready(0ms));
    const Connection_Test_Outcome outcome = box.future.get();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.sent);
}

// A session that greets and closes at once.
class Greeting_Then_Gone : public test::Fake_Session {
public:
    void Connect() override {
        Fake_Session::Connect();
        connected = false;
    }
};

Tls_Peer Peer() {
    Tls_Peer peer;
    peer.Verify_Error = "self-signed certificate";
    peer.Certificate.Fingerprint = "AB:CD";
    return peer;
}

TEST(Outcome_Of_A_Test, Tells_What_Failed_And_What_The_User_May_Trust) {
    struct Case {
        const char* what;
        std::function<void()> thrown_at_connect; // nothing thrown when empty
        bool sent;
        std::string failure; // "*": the message of the certificate's error
        bool untrusted;
    };
    const auto certificate = [](Certificate_Problem problem) {
        return [problem] { throw Certificate_Error(problem, Peer(), "ftp.test", 990); };
    };
    const Case cases[] = {
        {"sent", nullptr, true, "", false},
        {"refused", [] { throw FTP_Error(530, "Login incorrect.", "PASS"); }, false,
         "Login incorrect.", false},
        {"untrusted certificate", certificate(Certificate_Problem::Untrusted), false, "*", true},
        {"changed certificate", certificate(Certificate_Problem::Changed), false, "*", true},
        // A pin does not make an out-of-date certificate good: nothing to trust.
        {"expired certificate", certificate(Certificate_Problem::Expired), false, "*", false},
        {"certificate not yet valid", certificate(Certificate_Problem::Not_Yet_Valid), false, "*",
         false},
        {"silent local failure", [] { throw std::runtime_error(""); }, false,
         "The FTP connection test failed", false},
        {"local failure", [] { throw std::runtime_error("No room left"); }, false, "No room left",
         false},
        {"not even a std::exception", [] { throw 42; }, false, "The FTP connection test failed",
         false},
    };
    test::Temp_Dir dir;
    dir.Write("datas.ini", "[string]\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::Fake_Session session;
        session.on_call = [&](const std::string& call) {
            if (call == "CONNECT" && c.thrown_at_connect)
                c.thrown_at_connect();
        };
        const Connection_Test_Outcome outcome = Run_Connection_Test_For_Outcome(
            session, Test_Settings("ftp.test"), dir.File("datas.ini"));
        EXPECT_EQ(outcome.sent, c.sent);
        if (c.failure == "*") {
            try {
                c.thrown_at_connect();
            } catch (const Certificate_Error& e) {
                EXPECT_EQ(outcome.failure, e.what());
                EXPECT_FALSE(outcome.failure.empty());
            }
        } else {
            EXPECT_EQ(outcome.failure, c.failure);
        }
        ASSERT_EQ(outcome.untrusted.has_value(), c.untrusted);
        if (c.untrusted) {
            EXPECT_EQ(outcome.untrusted->Host(), "ftp.test");
            EXPECT_EQ(outcome.untrusted->Port(), 990);
            EXPECT_EQ(outcome.untrusted->Peer().Certificate.Fingerprint, "AB:CD");
        }
        EXPECT_FALSE(outcome.unknown_key);
        EXPECT_FALSE(outcome.cancelled);
    }
}

TEST(Outcome_Of_A_Test, A_Server_That_Closes_After_Its_Greeting_Shows_Nothing) {
    test::Temp_Dir dir;
    dir.Write("datas.ini", "[string]\r\n");
    Greeting_Then_Gone session;
    const Connection_Test_Outcome outcome =
        Run_Connection_Test_For_Outcome(session, Test_Settings("ftp.test"), dir.File("datas.ini"));
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.failure, "") << "neither success nor an error";
    EXPECT_FALSE(outcome.untrusted);
    EXPECT_FALSE(outcome.unknown_key);
    EXPECT_EQ(Count(session.calls, "LOGIN"), 0u);
}

} // namespace
} // namespace vistrel
