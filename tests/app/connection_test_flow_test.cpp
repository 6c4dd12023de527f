// The connection test as the user goes through it: success or the error box,
// a host key the user trusts kept and the test run again, one refused, and
// a close that comes while the question is open.
#include "app/connection_test_flow.h"

#include "support/fake_ftp_session.h"
#include "support/temp_dir.h"
#include "upload/connection_test.h"
#include "upload/trust_prompt.h"
#include "upload/upload_service.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vistrel {
namespace {

const Host_Key_Error kUnknown_Key(Host_Key_Problem::Unknown, "127.0.0.1", 2222, "ssh-ed25519",
                                  "SHA256:abc", "[127.0.0.1]:2222 ssh-ed25519 AAAA");

// Answers the questions as the test says, and counts them.
class Scripted_Prompt : public Trust_Prompt {
public:
    std::function<bool()> answer = [] { return false; };
    int asked = 0;
    int cancelled = 0;
    bool Trust(const Certificate_Error&) override { return ++asked, answer(); }
    bool Trust(const Host_Key_Error&) override { return ++asked, answer(); }
    void Cancel() override { ++cancelled; }
};

struct Flow_Fixture {
    test::Temp_Dir dir;
    test::Fake_Session* session = nullptr;
    Upload_List files;
    std::unique_ptr<Upload_Service> upload;
    Scripted_Prompt prompt;
    std::unique_ptr<Connection_Test_Flow> flow;
    int successes = 0;
    std::vector<std::string> failures;
    int reads = 0;

    Flow_Fixture() {
        dir.Write("datas.ini", "[string]\r\nEDT_FTP_Server_Name=sftp://127.0.0.1:2222\r\n");
        auto fake = std::make_unique<test::Fake_Session>();
        session = fake.get();
        upload = std::make_unique<Upload_Service>(
            std::move(fake), files, Upload_Worker::Hooks{[] { return Settings(); }, nullptr});
        flow = std::make_unique<Connection_Test_Flow>(
            *upload, prompt, dir.Folder(),
            Connection_Test_Hooks{[this] { return ++reads, Settings(); }, [this] { ++successes; },
                                  [this](const std::string& m) { failures.push_back(m); }});
    }
    static Working_Settings Settings() {
        Working_Settings w;
        w.FTP_Server = "sftp://127.0.0.1:2222";
        w.FTP_Login = "cam";
        w.Sampling_ms = 200;
        return w;
    }
    // The session's Connect fails with `error` the first `times` times.
    void Fail_Connect(std::function<void()> error, int times) {
        session->on_call = [error, times, count = 0](const std::string& call) mutable {
            if (call == "CONNECT" && count++ < times)
                error();
        };
    }
    int Connects() const {
        return int(std::count(session->calls.begin(), session->calls.end(), "CONNECT"));
    }
    bool Finished() {
        return QTest::qWaitFor([this] { return !flow->Running(); }, 10000);
    }
};

class Connection_Test_Flow_Test : public QObject {
    Q_OBJECT

private slots:
    void success_is_shown_once_and_nothing_else() {
        Flow_Fixture f;
        f.flow->BTN_FTP_TestClick();
        QVERIFY(f.flow->Running());
        f.flow->BTN_FTP_TestClick(); // a second click while it runs starts nothing
        QVERIFY(f.Finished());
        QCOMPARE(f.successes, 1);
        QVERIFY(f.failures.empty());
        QCOMPARE(f.Connects(), 1);
        QCOMPARE(f.prompt.asked, 0);
    }

    void a_failure_is_shown_in_the_error_box_with_its_full_stop() {
        Flow_Fixture f;
        f.Fail_Connect([] { throw FTP_Error(0, "Cannot connect to 127.0.0.1", "CONNECT"); }, 1);
        f.flow->BTN_FTP_TestClick();
        QVERIFY(f.Finished());
        QCOMPARE(f.successes, 0);
        QCOMPARE(f.failures,
                 std::vector<std::string>{Error_Box_Text("Cannot connect to 127.0.0.1")});
        QVERIFY(f.failures.front().back() == '.');
    }

    void a_host_key_the_user_trusts_is_kept_and_the_test_goes_on() {
        Flow_Fixture f;
        f.Fail_Connect([] { throw kUnknown_Key; }, 1);
        f.prompt.answer = [] { return true; };
        f.flow->BTN_FTP_TestClick();
        QVERIFY(f.Finished());
        QCOMPARE(f.prompt.asked, 1);
        QCOMPARE(f.Connects(), 2);
        QCOMPARE(f.successes, 1);
        QVERIFY(f.failures.empty());
        QVERIFY(f.dir.Read(kKnown_Hosts_File_Name).find(kUnknown_Key.Known_Hosts_Entry()) !=
                std::string::npos);
    }

    void a_host_key_the_user_refuses_ends_the_test_with_its_error() {
        Flow_Fixture f;
        f.Fail_Connect([] { throw kUnknown_Key; }, 1);
        f.flow->BTN_FTP_TestClick();
        QVERIFY(f.Finished());
        QCOMPARE(f.prompt.asked, 1);
        QCOMPARE(f.Connects(), 1);
        QCOMPARE(f.successes, 0);
        QCOMPARE(f.failures.size(), size_t(1));
        QVERIFY(!std::filesystem::exists(f.dir.File(kKnown_Hosts_File_Name)));
    }

    void a_close_while_the_question_is_open_trusts_nothing_and_lets_the_close_go_on() {
        Flow_Fixture f;
        f.Fail_Connect([] { throw kUnknown_Key; }, 1);
        QSignalSpy can_close(f.flow.get(), &Connection_Test_Flow::Closing_Can_Go_On);
        // The user says yes, but the window was closed meanwhile.
        f.prompt.answer = [&f] {
            f.flow->Cut_For_Close();
            return true;
        };
        f.flow->BTN_FTP_TestClick();
        QVERIFY(f.Finished());
        QCOMPARE(can_close.count(), 1);
        QCOMPARE(f.prompt.cancelled, 1);
        QCOMPARE(f.Connects(), 1);
        QVERIFY(f.failures.empty()); // no box for a window that is gone
        QVERIFY(!std::filesystem::exists(f.dir.File(kKnown_Hosts_File_Name)));
        f.flow->BTN_FTP_TestClick(); // nothing starts once closing
        QVERIFY(!f.flow->Running());
    }
};

} // namespace
} // namespace vistrel

QTEST_GUILESS_MAIN(vistrel::Connection_Test_Flow_Test)
#include "connection_test_flow_test.moc"
