// Recorded pictures on their way to a real FTP server (pyftpdlib), through
// the window, its tick, the upload worker and the FTP client.
#include "support/fake_ftp_server.h"
#include "support/sshd_server.h"
#include "support/test_certificates.h"
#include "support/window_harness.h"
#include "ui_UF_Main.h"

#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <set>

static void Init_Resources() {
    Q_INIT_RESOURCE(vistrel);
}

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using test::Harness;

std::string Bytes_Of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The names of the pictures in a folder, sorted.
std::set<std::string> Pictures_In(const fs::path& folder) {
    std::set<std::string> names;
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".jpg")
                names.insert(entry.path().filename().string());
    return names;
}

// A frame that differs from every other, so that every picture differs.
QImage Frame(int n) {
    QImage frame(320, 240, QImage::Format_RGB32);
    frame.fill(QColor((n * 37) % 256, (n * 91) % 256, (n * 53) % 256));
    return frame;
}

class Upload_End_To_End : public QObject {
    Q_OBJECT

    // One tick on a new frame, then the worker's run finished.
    static void Tick(Harness& h, int n) {
        h.camera->frames.push_back(Frame(n));
        h.clock->ticks += 200;
        h.window->TMR_Refresh_IMGTimer();
        QTRY_VERIFY_WITH_TIMEOUT(!h.window->Worker()->Active(), 20000);
    }

    static void Write_Ftp_Settings(Harness& h, uint16_t port, const char* password) {
        Write_Ftp_Settings(h, "127.0.0.1:" + std::to_string(port), password, true);
    }

    static void Write_Ftp_Settings(Harness& h, const std::string& server, const char* password,
                                   bool record_at_launch) {
        h.Write_Settings(
            "[string]\r\nDED_Dest_Folder=" + h.Pictures() + "\r\nEDT_FTP_Server_Name=" + server +
            "\r\nEDT_FTP_Login=cam\r\nEDT_FTP_Password=" + password +
            "\r\n[integer]\r\nCKB_Use_FTP=1\r\nRBT_Rec_Launch=" + (record_at_launch ? "1" : "0") +
            "\r\n");
    }

private slots:
    void initTestCase() { Init_Resources(); }

    void pictures_arrive_in_order_and_survive_a_server_outage() {
        test::Pyftpdlib_Server server;
        Harness h;
        Write_Ftp_Settings(h, server.Port(), test::Pyftpdlib_Server::kPassword);
        // The ticks come by hand; a long period gives each run time enough,
        // however slow the machine, to send what waits.
        h.Write_Settings(h.dir.Read("data/datas.ini") + "EDT_Timer_Refresh=3000\r\n");
        Vistrel_App& w = h.Create();
        h.Activate();
        QVERIFY(w.Controller().State().Rec_Continuous);
        const fs::path local = h.Pictures() + "/RIDEV_2026_12_08/R0001";
        const fs::path remote = server.Home().Path() / "RIDEV_2026_12_08_R0001";

        // Each tick's run sends what waits, oldest first: the picture of the
        // tick before, and the tick's own when the run is still going once it
        // is recorded.
        int n = 0;
        for (; n < 6; ++n) {
            Tick(h, n);
            const std::set<std::string> recorded = Pictures_In(local);
            std::set<std::string> all_but_last;
            for (const std::string& name : recorded)
                if (all_but_last.size() + 1 < recorded.size())
                    all_but_last.insert(name);
            const std::set<std::string> sent = Pictures_In(remote);
            QVERIFY2(
                sent == recorded || sent == all_but_last,
                (std::to_string(sent.size()) + " of " + std::to_string(recorded.size())).c_str());
        }

        // The server goes away for a while; recording goes on.
        server.Kill();
        for (int k = 0; k < 5; ++k, ++n)
            Tick(h, n);
        server.Restart();
        // Back, it catches up while recording goes on: a run sends what
        // waits for up to a sampling period instead of one picture.
        for (int k = 0; k < 3; ++k, ++n)
            Tick(h, n);
        QVERIFY2(Pictures_In(local).size() - Pictures_In(remote).size() <= 1,
                 (std::to_string(Pictures_In(remote).size()) + " of " +
                  std::to_string(Pictures_In(local).size()) + " sent")
                     .c_str());

        // Stopped, the next ticks drain what waits.
        w.Controller().BTN_StopClick();
        for (int k = 0; k < 40 && Pictures_In(remote).size() < Pictures_In(local).size(); ++k, ++n)
            Tick(h, n);
        QCOMPARE(Pictures_In(remote), Pictures_In(local));
        QCOMPARE(Pictures_In(local).size(), size_t(14));
        for (const std::string& name : Pictures_In(local))
            QVERIFY2(Bytes_Of(local / name) == Bytes_Of(remote / name), name.c_str());
        QVERIFY(!w.Form().LBL_FTP_Status->text().isEmpty());
    }

    void connection_test_over_sftp_asks_about_the_key_then_appends_the_settings() {
        fs::path home;
        if (!test::Sshd_Can_Run(&home))
            QSKIP("needs root, sshd and the SFTP test user (scripts/test makes it)");
        test::Temp_Dir server_dir;
        const uint16_t port = test::Free_Loopback_Port();
        test::Sshd sshd(server_dir.Path(), port, "host_key");
        QVERIFY(test::Accepts(port));
        Harness h;
        std::vector<std::string> asked;
        bool trust = false;
        h.confirm_host_key = [&](const Host_Key_Error& refused) {
            asked.push_back(refused.Fingerprint());
            return trust;
        };
        h.Write_Settings("[string]\r\nDED_Dest_Folder=" + h.Pictures() +
                         "\r\nEDT_FTP_Server_Name=sftp://127.0.0.1:" + std::to_string(port) +
                         "\r\nEDT_FTP_Login=" + test::kSftp_User +
                         "\r\nEDT_FTP_Password=" + test::kSftp_Password +
                         "\r\n[integer]\r\nCKB_Use_FTP=1\r\nRBT_Rec_Launch=0\r\n");
        Vistrel_App& w = h.Create();
        h.Activate();
        // No: nothing is trusted, nothing is sent, and the error box says why.
        QTimer closer;
        closer.setInterval(20);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                    box->accept();
                    closer.stop();
                }
        });
        closer.start();
        h.Test_Connection();
        QVERIFY2(!closer.isActive(), "no error box was shown");
        QCOMPARE(asked.size(), size_t(1));
        QVERIFY(asked[0].rfind("SHA256:", 0) == 0);
        QVERIFY(!fs::exists(h.Data() + kKnown_Hosts_File_Name));
        QVERIFY(!fs::exists(home / "datas.ini"));
        // Yes: the key is kept and the copy lands in the login directory.
        trust = true;
        h.Test_Connection();
        QCOMPARE(asked.size(), size_t(2));
        QCOMPARE(w.Form().LBL_FTP_File->text(), QString("file tranfered : datas.ini ..."));
        QVERIFY(fs::exists(h.Data() + kKnown_Hosts_File_Name));
        const std::string copy = Bytes_Of(home / "datas.ini");
        QVERIFY(copy.find("EDT_FTP_Password=\r\n") != std::string::npos);
        QVERIFY(copy.find(test::kSftp_Password) == std::string::npos);
        // Trusted now: the next test asks nothing.
        h.Test_Connection();
        QCOMPARE(asked.size(), size_t(2));
        QCOMPARE(Bytes_Of(home / "datas.ini").size(), 2 * copy.size());
    }

    void connection_test_appends_the_settings_without_the_password() {
        test::Pyftpdlib_Server server;
        Harness h;
        Write_Ftp_Settings(h, server.Port(), test::Pyftpdlib_Server::kPassword);
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Controller().BTN_StopClick();
        h.Test_Connection();
        h.Test_Connection();
        QCOMPARE(w.Form().LBL_FTP_File->text(), QString("file tranfered : datas.ini ..."));
        const std::string copy = Bytes_Of(server.Home().Path() / "datas.ini");
        const std::string local = h.dir.Read("data/datas.ini");
        QCOMPARE(copy.size(),
                 2 * (local.size() - std::string(test::Pyftpdlib_Server::kPassword).size()));
        QVERIFY(copy.find(test::Pyftpdlib_Server::kPassword) == std::string::npos);
        QVERIFY(copy.find("EDT_FTP_Password=\r\n") != std::string::npos);
        QVERIFY2(w.Working().Use_FTP, "uploading resumes after the test");
    }

    // A NAS's self-signed certificate: the test asks before anything is sent,
    // a yes pins it and the test goes on, a no ends it with the error box.
    void connection_test_asks_before_trusting_an_unknown_certificate() {
        const test::Temp_Dir certificates;
        const test::Test_Certificate self_signed("nas", {"DNS:nas.local"});
        self_signed.Write_With_Key(certificates.Path() / "nas.pem");
        certificates.Write("empty.pem", "");
        qputenv("SSL_CERT_FILE", certificates.File("empty.pem").c_str());
        qputenv("SSL_CERT_DIR", certificates.Path().c_str());
        test::Pyftpdlib_Server server({}, certificates.File("nas.pem"));
        const std::string address = "ftps://127.0.0.1:" + std::to_string(server.Port());

        for (const bool yes : {false, true}) {
            Harness h;
            Write_Ftp_Settings(h, address, test::Pyftpdlib_Server::kPassword, false);
            std::vector<std::string> asked;
            std::string shown_fingerprint;
            h.confirm_certificate = [&](const Certificate_Error& refused) {
                asked.push_back(Trust_Question(refused));
                shown_fingerprint = refused.Peer().Certificate.Fingerprint;
                return yes;
            };
            Vistrel_App& w = h.Create();
            h.Activate();
            QString error_box;
            QTimer answer_boxes;
            QObject::connect(&answer_boxes, &QTimer::timeout, [&] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    error_box = box->text();
                    box->accept();
                }
            });
            answer_boxes.start(50);
            h.Test_Connection();
            answer_boxes.stop();

            const std::string expected =
                "Trust this certificate for 127.0.0.1:" + std::to_string(server.Port()) + "?";
            QCOMPARE(asked, std::vector<std::string>{expected});
            QCOMPARE(shown_fingerprint, self_signed.Fingerprint());
            const std::string pins = h.dir.Read("data/trusted_servers.ini");
            if (!yes) {
                QVERIFY(pins.empty());
                QVERIFY2(error_box.startsWith("The server's certificate is not trusted"),
                         qPrintable(error_box));
                QVERIFY(w.Form().LBL_FTP_File->text() != "file tranfered : datas.ini ...");
                continue;
            }
            QVERIFY2(pins.find(self_signed.Fingerprint()) != std::string::npos, pins.c_str());
            QVERIFY2(error_box.isEmpty(), qPrintable(error_box));
            QCOMPARE(w.Form().LBL_FTP_File->text(), QString("file tranfered : datas.ini ..."));
            QVERIFY(Bytes_Of(server.Home().Path() / "datas.ini").find("EDT_FTP_Password=\r\n") !=
                    std::string::npos);
            // Pinned, the next test asks nothing.
            h.Test_Connection();
            QCOMPARE(asked.size(), size_t(1));
        }
        qunsetenv("SSL_CERT_FILE");
        qunsetenv("SSL_CERT_DIR");
    }

    void closing_while_the_trust_question_is_open_ends_the_program_at_once() {
        const test::Temp_Dir certificates;
        const test::Test_Certificate self_signed("nas", {"DNS:nas.local"});
        self_signed.Write_With_Key(certificates.Path() / "nas.pem");
        test::Pyftpdlib_Server server({}, certificates.File("nas.pem"));
        Harness h;
        Write_Ftp_Settings(h, "ftps://127.0.0.1:" + std::to_string(server.Port()), "pw", false);
        Vistrel_App& w = h.Create();
        h.Activate();
        bool question_shown = false;
        std::chrono::steady_clock::time_point start;
        QTimer closing;
        QObject::connect(&closing, &QTimer::timeout, [&] {
            if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) == nullptr)
                return;
            question_shown = true;
            closing.stop();
            start = std::chrono::steady_clock::now();
            w.Window().close();
        });
        closing.start(50);
        h.Test_Connection(); // returns once the window is closed
        h.window.reset();
        QVERIFY(question_shown);
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(2));
        QVERIFY(h.dir.Read("data/trusted_servers.ini").empty());
    }

    // Whatever the upload is waiting for when the window closes, the program
    // ends at once, with the settings and the window's place saved.
    void closing_ends_the_program_at_once_whatever_the_upload_waits_for() {
        const test::Full_Listener dropping;
        const test::Unique_Fd silent = test::Listen_On_Loopback(); // never says a word
        const std::string dropping_server = "127.0.0.1:" + std::to_string(dropping.Port());
        const std::string silent_server =
            "127.0.0.1:" + std::to_string(test::Local_Port(silent.Get()));
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        struct Case {
            const char* name;
            std::string server;
            bool connection_test; // the button's test, instead of a recording's upload
        };
        const Case cases[] = {
            {"a connect to a host that drops it", dropping_server, false},
            {"a server that never greets", silent_server, false},
            {"a name that never resolves", "camera.test", false},
            {"a connection test connecting", dropping_server, true},
            {"a connection test awaiting the greeting", silent_server, true},
            {"a connection test resolving", "camera.test", true},
        };
        for (const Case& c : cases) {
            Harness h;
            Write_Ftp_Settings(h, c.server, "pw", !c.connection_test);
            h.configure_ftp = [released](FTP_Client& client) {
                // The program's own limits, far beyond what a close may take.
                client.Read_Timeout = std::chrono::seconds(60);
                client.Stall_Timeout = std::chrono::seconds(60);
                client.Connect_Timeout = std::chrono::seconds(15);
                client.Lookup_Timeout = std::chrono::seconds(10);
                client.Name_Resolver = [released](const std::string&, uint16_t) {
                    released.wait();
                    return std::vector<Endpoint>{};
                };
            };
            Vistrel_App& w = h.Create();
            h.Activate();
            w.Form().EDT_Seuil_Detect->setText("17"); // what the close must save

            std::chrono::steady_clock::time_point start;
            if (c.connection_test) {
                QTimer::singleShot(300, &w, [&] {
                    start = std::chrono::steady_clock::now();
                    w.Window().close();
                });
                h.Test_Connection(); // returns once the window is closed
            } else {
                h.camera->frames.push_back(Frame(1));
                w.TMR_Refresh_IMGTimer(); // records a picture
                h.camera->frames.push_back(Frame(2));
                w.TMR_Refresh_IMGTimer(); // wakes the worker for it
                QTest::qWait(300);
                QVERIFY2(w.Worker()->Active(), c.name);
                start = std::chrono::steady_clock::now();
                w.Window().close();
            }
            h.window.reset(); // ends the worker and saves the window's place
            const auto took = std::chrono::steady_clock::now() - start;
            QVERIFY2(took < std::chrono::seconds(2), c.name);
            QVERIFY2(h.dir.Read("data/datas.ini").find("EDT_Seuil_Detect=17\r\n") !=
                         std::string::npos,
                     c.name);
            QVERIFY2(h.dir.Read("data/appli.ini").find("F_Main=") != std::string::npos, c.name);
        }
        release.set_value();
    }

    void the_backlog_shows_in_the_status_tooltip_and_survives_a_restart() {
        Harness h;
        Write_Ftp_Settings(h, "127.0.0.1:" + std::to_string(test::Unused_Port()),
                           test::Pyftpdlib_Server::kPassword, true);
        Vistrel_App& w = h.Create();
        h.Activate();
        Tick(h, 0);
        QCOMPARE(w.Form().PNL_FTP_Status_Main->toolTip(), QString());
        for (int n = 1; n < 4; ++n)
            Tick(h, n);
        QCOMPARE(w.Form().PNL_FTP_Status_Main->toolTip(), QString("4 pictures waiting to be sent"));
        const fs::path local = h.Pictures() + "/RIDEV_2026_12_08/R0001";
        const std::set<std::string> recorded = Pictures_In(local);
        QCOMPARE(recorded.size(), size_t(4));
        h.window.reset(); // closed before any of them could go

        // The next start, with the server there and nothing recorded any
        // more, sends them all.
        test::Pyftpdlib_Server server;
        Write_Ftp_Settings(h, "127.0.0.1:" + std::to_string(server.Port()),
                           test::Pyftpdlib_Server::kPassword, false);
        Vistrel_App& again = h.Create();
        h.Activate();
        QCOMPARE(again.Files().Unsent_Count(), size_t(4));
        const fs::path remote = server.Home().Path() / "RIDEV_2026_12_08_R0001";
        for (int k = 0; k < 10 && Pictures_In(remote).size() < recorded.size(); ++k)
            Tick(h, 10 + k);
        QCOMPARE(Pictures_In(remote), recorded);
        for (const std::string& name : recorded)
            QVERIFY2(Bytes_Of(local / name) == Bytes_Of(remote / name), name.c_str());
        Tick(h, 20); // the tooltip follows at the next tick
        QCOMPARE(again.Form().PNL_FTP_Status_Main->toolTip(), QString());
        QVERIFY(!again.Controller().State().Rec_Continuous);
    }

    // A plain file on the server has the name of the episode's folder: its
    // pictures are refused on three runs each, then listed, and the
    // tooltip says how many.
    void pictures_the_server_refuses_are_counted_in_the_status_tooltip() {
        test::Pyftpdlib_Server server;
        server.Home().Write("RIDEV_2026_12_08_R0001", "not a folder");
        Harness h;
        Write_Ftp_Settings(h, server.Port(), test::Pyftpdlib_Server::kPassword);
        Vistrel_App& w = h.Create();
        h.Activate();
        Tick(h, 0);
        Tick(h, 1);
        w.Controller().BTN_StopClick();
        const QString expected = "2 pictures refused by the server (listed in " +
                                 QString::fromStdString(h.Data()) + "upload_refused)";
        for (int n = 2; n < 12 && w.Form().PNL_FTP_Status_Main->toolTip() != expected; ++n)
            Tick(h, n);
        QCOMPARE(w.Form().PNL_FTP_Status_Main->toolTip(), expected);
        QCOMPARE(w.Files().Unsent_Count(), size_t(0));
        const std::string listed = h.dir.Read("data/upload_refused");
        QCOMPARE(std::count(listed.begin(), listed.end(), '\n'), 2L);
        QCOMPARE(Pictures_In(h.Pictures() + "/RIDEV_2026_12_08/R0001").size(), size_t(2));
    }

    void closing_during_a_stalled_transfer_ends_the_worker_at_once() {
        using namespace test;
        const std::string stored = "STOR I_14_05_09__00001.jpg";
        Fake_Ftp_Server server(Joined(
            Joined(Login_Steps("cam", "pw"), Enter_New_Folder_Steps("RIDEV_2026_12_08_R0001")),
            {Passive(), Expect(stored), Send("150 go ahead"), Stall()}));
        Harness h;
        Write_Ftp_Settings(h, server.Port(), "pw");
        Vistrel_App& w = h.Create();
        h.Activate();
        h.camera->frames.push_back(Frame(1));
        w.TMR_Refresh_IMGTimer(); // records the first picture
        h.camera->frames.push_back(Frame(2));
        w.TMR_Refresh_IMGTimer(); // wakes the worker, which stalls in its store
        QVERIFY(server.Wait_Until_Stalling(std::chrono::seconds(10)));
        QVERIFY(w.Worker()->Active());

        const auto start = std::chrono::steady_clock::now();
        w.Window().close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Worker()->Active(), 1000);
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(1));
    }
};

} // namespace
} // namespace vistrel

QTEST_MAIN(vistrel::Upload_End_To_End)
#include "upload_end_to_end_test.moc"
