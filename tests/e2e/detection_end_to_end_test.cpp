// The Detection dialog's choices as the program keeps them in detection.ini,
// followed through the tick, the disk and the upload to a real FTP server
// (pyftpdlib): hidden areas never leave the machine, and pictures from
// before the motion travel like any other.
#include "support/fake_ftp_server.h"
#include "support/jpeg_reader.h"
#include "support/window_harness.h"

#include <QTest>

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

std::set<std::string> Pictures_In(const fs::path& folder) {
    std::set<std::string> names;
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".jpg")
                names.insert(entry.path().filename().string());
    return names;
}

// Mid-grey texture; `inverted` gives its negative, which reads as full
// motion against it.
QImage Texture(bool inverted) {
    QImage frame(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const int v = 60 + (x * 7 + y * 13) % 140;
            frame.setPixel(x, y, inverted ? qRgb(255 - v, 255 - v, 255 - v) : qRgb(v, v, v));
        }
    return frame;
}

class Detection_End_To_End : public QObject {
    Q_OBJECT

    static void Tick(Harness& h, const QImage& frame) {
        h.camera->frames.push_back(frame);
        h.clock->ticks += 200;
        h.window->TMR_Refresh_IMGTimer();
        QTRY_VERIFY_WITH_TIMEOUT(!h.window->Worker()->Active(), 20000);
    }

    static void Write_Settings(Harness& h, uint16_t port, int launch) {
        h.Write_Settings(
            "[string]\r\nDED_Dest_Folder=" + h.Pictures() +
            "\r\nEDT_FTP_Server_Name=127.0.0.1:" + std::to_string(port) +
            "\r\nEDT_FTP_Login=cam\r\nEDT_FTP_Password=" + test::Pyftpdlib_Server::kPassword +
            "\r\n[integer]\r\nCKB_Use_FTP=1\r\nRBT_Rec_Launch=" + std::to_string(launch) +
            "\r\nEDT_Timer_Refresh=3000\r\nEDT_Delay_Avant_Rec=0\r\n");
    }

    // Stopped, the next ticks send what still waits.
    static void Drain(Harness& h, const fs::path& local, const fs::path& remote) {
        h.window->Controller().BTN_StopClick();
        for (int k = 0; k < 40 && Pictures_In(remote).size() < Pictures_In(local).size(); ++k)
            Tick(h, Texture(false));
    }

private slots:
    void initTestCase() { Init_Resources(); }

    void hidden_areas_are_black_in_what_the_server_receives() {
        test::Pyftpdlib_Server server;
        Harness h;
        Write_Settings(h, server.Port(), 1);
        h.dir.Write("data/detection.ini", "[detection]\nIgnore_Light=0\nPre_Capture=0\n"
                                          "[areas]\nArea1=hide,0,0,5000,10000\n");
        h.Create();
        h.Activate();
        QImage white(320, 240, QImage::Format_RGB32);
        white.fill(Qt::white);
        for (int n = 0; n < 3; ++n)
            Tick(h, white);
        const fs::path local = h.Pictures() + "/RIDEV_2026_12_08/R0001";
        const fs::path remote = server.Home().Path() / "RIDEV_2026_12_08_R0001";
        Drain(h, local, remote);
        QCOMPARE(Pictures_In(remote).size(), size_t(3));
        for (const std::string& name : Pictures_In(remote)) {
            const std::string sent = Bytes_Of(remote / name);
            QCOMPARE(sent, Bytes_Of(local / name));
            const QImage picture = test::Decode_Jpeg(sent).image;
            QCOMPARE(picture.size(), QSize(640, 480));
            QVERIFY2(qGray(picture.pixel(100, 200)) < 8, name.c_str());
            QVERIFY2(qGray(picture.pixel(540, 200)) > 245, name.c_str());
        }
    }

    void pictures_from_before_the_motion_reach_the_server_first_in_their_folder() {
        test::Pyftpdlib_Server server;
        Harness h;
        Write_Settings(h, server.Port(), 2);
        h.dir.Write("data/detection.ini",
                    "[detection]\r\nIgnore_Light=0\r\nPre_Capture=2\r\n[areas]\r\n");
        Vistrel_App& w = h.Create();
        h.Activate();
        QVERIFY(w.Controller().State().Rec_Armed);
        Tick(h, Texture(false));
        Tick(h, Texture(false));
        h.clock->now.second = 30;
        Tick(h, Texture(true)); // the motion
        QVERIFY(w.Controller().State().Rec_Motion);
        h.clock->now.second = 31;
        Tick(h, Texture(true));

        const fs::path local = h.Pictures() + "/RIDEV_2026_12_08/D0001";
        const fs::path remote = server.Home().Path() / "RIDEV_2026_12_08_D0001";
        Drain(h, local, remote);
        const std::set<std::string> expected = {"I_14_05_09__00001.jpg", "I_14_05_30__00002.jpg",
                                                "I_14_05_31__00003.jpg"};
        QCOMPARE(Pictures_In(local), expected);
        QCOMPARE(Pictures_In(remote), expected);
    }
};

} // namespace
} // namespace vistrel

QTEST_MAIN(vistrel::Detection_End_To_End)
#include "detection_end_to_end_test.moc"
