// The messages about episodes through the whole program around its window:
// the tick's episodes, the notification service and its worker, libcurl and
// an ntfy-like HTTP server on loopback that records what it receives.
#include "support/notify_servers.h"
#include "support/window_harness.h"

#include <QTest>

#include <filesystem>
#include <fstream>
#include <iterator>

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

// A textured scene, or its negative, with one of several patterns of camera
// noise: two frames of one scene differ a little, never by nothing.
QImage Texture(bool inverted, int noise = 0) {
    QImage frame(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const int v = 60 + (x * 7 + y * 13) % 140 + (x * 31 + y * 17 + noise * 7) % 5 - 2;
            frame.setPixel(x, y, inverted ? qRgb(255 - v, 255 - v, 255 - v) : qRgb(v, v, v));
        }
    return frame;
}

class Notify_End_To_End : public QObject {
    Q_OBJECT

    static void Tick(Harness& h, const QImage& frame, int second) {
        h.camera->frames.push_back(frame);
        h.clock->ticks += 200;
        h.clock->now.second = second;
        h.window->TMR_Refresh_IMGTimer();
    }

    // Motion recording armed at launch, no grace delay, a stop delay of 1 s.
    static void Write_Settings(Harness& h) {
        h.Write_Settings("[string]\r\nDED_Dest_Folder=" + h.Pictures() +
                         "\r\n[integer]\r\nRBT_Rec_Launch=2\r\nEDT_Delay_Avant_Rec=0\r\n"
                         "EDT_Delay_Apres_Rec=1\r\n");
    }

    static void Write_Notify(Harness& h, const std::string& server, int cooldown, bool on_end) {
        h.dir.Write("data/notify.ini", "[notify]\nCooldown_s=" + std::to_string(cooldown) +
                                           "\nOn_End=" + (on_end ? "1" : "0") +
                                           "\n[ntfy]\nEnabled=1\nServer=" + server +
                                           "\nTopic=cam\nToken=\n");
    }

    // One motion episode from calm: the motion at `second`, then calm until
    // the stop delay ends it.
    static void Episode(Harness& h, int second) {
        Tick(h, Texture(false), second - 2);
        Tick(h, Texture(false), second - 1);
        Tick(h, Texture(true), second); // over the threshold
        Tick(h, Texture(true), second + 1);
        for (int i = 0; i < 8; ++i)
            Tick(h, Texture(true, i + 1), second + 2);
    }

private slots:
    void initTestCase() { Init_Resources(); }

    void one_message_per_episode_with_the_picture_that_shows_it_and_the_ends() {
        test::Recording_Http_Server server;
        Harness h;
        Write_Settings(h);
        Write_Notify(h, server.Base(), 60, true);
        h.dir.Write("data/detection.ini", "[detection]\nPre_Capture=2\n");
        Vistrel_App& w = h.Create();
        h.Activate();
        QVERIFY(w.Controller().State().Rec_Armed);
        Episode(h, 10);
        QVERIFY(!w.Controller().State().Rec_Motion);
        Episode(h, 30); // within the cooldown: its start is not told
        QTRY_COMPARE_WITH_TIMEOUT(server.Requests().size(), size_t(3), 20000);
        QTest::qWait(300);
        const std::vector<test::Request_Seen> seen = server.Requests();
        QCOMPARE(seen.size(), size_t(3));

        const fs::path d1 = h.Pictures() + "/RIDEV_2026_12_08/D0001";
        QCOMPARE(seen[0].method, std::string("PUT"));
        QCOMPARE(seen[0].path, std::string("/cam"));
        // The tick that went over the threshold is the second of the two
        // pictures from before the motion.
        QCOMPARE(seen[0].headers.at("filename"), std::string("I_14_05_10__00002.jpg"));
        QCOMPARE(seen[0].body, Bytes_Of(d1 / "I_14_05_10__00002.jpg"));
        QCOMPARE(seen[0].decoded.at("message"),
                 std::string("Motion at 14:05:10 \u2014 RIDEV_2026_12_08/D0001"));
        for (size_t i : {size_t(1), size_t(2)}) {
            const std::string text = seen[i].decoded.at("message");
            QVERIFY2(text.rfind("Motion ended at ", 0) == 0, text.c_str());
            QVERIFY2(text.find(i == 1 ? "/D0001:" : "/D0002:") != std::string::npos, text.c_str());
        }
        QVERIFY(h.notices.empty());
    }

    void a_refusal_for_good_is_told_once() {
        test::Recording_Http_Server server;
        server.Answer("*", 403, "topic reserved\nmore");
        Harness h;
        Write_Settings(h);
        Write_Notify(h, server.Base(), 0, false);
        h.Create();
        h.Activate();
        Episode(h, 10);
        QTRY_COMPARE_WITH_TIMEOUT(h.notices.size(), size_t(1), 20000);
        Episode(h, 30);
        QTest::qWait(500);
        QCOMPARE(server.Requests().size(), size_t(1));
        QCOMPARE(h.notices.size(), size_t(1));
        QVERIFY(h.notices[0].problem);
        QCOMPARE(h.notices[0].text,
                 std::string("ntfy refuses the messages: 403: topic reserved. See "
                             "Notifications... in the picture's menu."));
    }
};

} // namespace
} // namespace vistrel

QTEST_MAIN(vistrel::Notify_End_To_End)
#include "notify_end_to_end_test.moc"
