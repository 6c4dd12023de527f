// Recorded pictures on their way to a real FTP server (pyftpdlib), through
// the window, its tick, the upload worker and the FTP client.
#include "support/fake_ftp_server.h"
#include "support/window_harness.h"
#include "ui_UF_Main.h"

#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
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
        h.Write_Settings("[string]\r\nDED_Dest_Folder=" + h.Pictures() +
                         "\r\nEDT_FTP_Server_Name=127.0.0.1:" + std::to_string(port) +
                         "\r\nEDT_FTP_Login=cam\r\nEDT_FTP_Password=" + password +
                         "\r\n[integer]\r\nCKB_Use_FTP=1\r\nRBT_Rec_Launch=1\r\n");
    }

private slots:
    void initTestCase() { Init_Resources(); }

    void pictures_arrive_in_order_and_survive_a_server_outage() {
        test::Pyftpdlib_Server server;
        Harness h;
        Write_Ftp_Settings(h, server.Port(), test::Pyftpdlib_Server::kPassword);
        TF_Main& w = h.Create();
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
        for (int k = 0; k < 3; ++k, ++n)
            Tick(h, n);

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

    void connection_test_appends_the_settings_without_the_password() {
        test::Pyftpdlib_Server server;
        Harness h;
        Write_Ftp_Settings(h, server.Port(), test::Pyftpdlib_Server::kPassword);
        TF_Main& w = h.Create();
        h.Activate();
        w.Controller().BTN_StopClick();
        w.BTN_FTP_TestClick();
        w.BTN_FTP_TestClick();
        QCOMPARE(w.Form().LBL_FTP_File->text(), QString("file tranfered : datas.ini ..."));
        const std::string copy = Bytes_Of(server.Home().Path() / "datas.ini");
        const std::string local = h.dir.Read("data/datas.ini");
        QCOMPARE(copy.size(),
                 2 * (local.size() - std::string(test::Pyftpdlib_Server::kPassword).size()));
        QVERIFY(copy.find(test::Pyftpdlib_Server::kPassword) == std::string::npos);
        QVERIFY(copy.find("EDT_FTP_Password=\r\n") != std::string::npos);
        QVERIFY2(w.Working().Use_FTP, "uploading resumes after the test");
    }

    void closing_during_a_stalled_transfer_ends_the_worker_at_once() {
        using namespace test;
        const std::string stored = "STOR I_14_05_09__00001.jpg";
        Fake_Ftp_Server server({Send("220 ready"),
                                Expect("USER cam"),
                                Send("331 password"),
                                Expect("PASS pw"),
                                Send("230 in"),
                                Expect("FEAT"),
                                Send("500 no"),
                                Expect("TYPE I"),
                                Send("200 binary"),
                                Expect("PWD"),
                                Send("257 \"/\" is current"),
                                Expect("CDUP"),
                                Send("250 up"),
                                Expect("TYPE A"),
                                Send("200 ascii"),
                                Passive(),
                                Expect("LIST"),
                                Send("150 listing"),
                                Serve(""),
                                Send("226 done"),
                                Expect("TYPE I"),
                                Send("200 binary"),
                                Expect("MKD RIDEV_2026_12_08_R0001"),
                                Send("257 made"),
                                Expect("CWD RIDEV_2026_12_08_R0001"),
                                Send("250 in"),
                                Passive(),
                                Expect(stored),
                                Send("150 go ahead"),
                                Stall()});
        Harness h;
        Write_Ftp_Settings(h, server.Port(), "pw");
        TF_Main& w = h.Create();
        h.Activate();
        h.camera->frames.push_back(Frame(1));
        w.TMR_Refresh_IMGTimer(); // records the first picture
        h.camera->frames.push_back(Frame(2));
        w.TMR_Refresh_IMGTimer(); // wakes the worker, which stalls in its store
        QVERIFY(server.Wait_Until_Stalling(std::chrono::seconds(10)));
        QVERIFY(w.Worker()->Active());

        const auto start = std::chrono::steady_clock::now();
        w.close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Worker()->Active(), 1000);
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(1));
    }
};

} // namespace
} // namespace vistrel

QTEST_MAIN(vistrel::Upload_End_To_End)
#include "upload_end_to_end_test.moc"
