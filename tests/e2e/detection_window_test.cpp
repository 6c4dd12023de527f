// The Detection dialog as the program runs it: opened from the live
// picture's menu, fed at every tick, kept in detection.ini on OK and handed
// to the recording, left alone on Cancel and closed with the program.
#include "app/detection_flow.h"
#include "support/dialog_through_menu.h"
#include "support/window_harness.h"
#include "ui/area_canvas.h"
#include "ui/detection_dialog.h"
#include "ui/picture_menu.h"

#include "ui_UF_Detection.h"

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <functional>

static void Init_Resources() {
    Q_INIT_RESOURCE(vistrel);
}

namespace vistrel {

namespace {

using test::Harness;

const char* const kThree_Areas = "[detection]\n"
                                 "Ignore_Light=0\n"
                                 "Pre_Capture=0\n"
                                 "[areas]\n"
                                 "Area1=watch,1000,500,4000,3000\n"
                                 "Area2=ignore,0,0,10000,1500\n"
                                 "Area3=hide,7500,7500,2500,2500\n";

// A drag from a pixel inside the top-left corner of a 400 x 300 picture to
// beyond its bottom-right corner: ignore,25,33,9975,9967 on a 4:3 frame.
void Draw_From_Corner(TF_Detection& dialog) {
    Area_Canvas& canvas = *dialog.Form().CNV_Areas;
    canvas.setFixedSize(400, 300);
    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(404, 304));
}

} // namespace

class Detection_Window_Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Init_Resources(); }

    void detection_ini_is_read_at_start_and_given_to_the_recording() {
        Harness h;
        h.dir.Write("data/detection.ini", kThree_Areas);
        Vistrel_App& w = h.Create();
        QCOMPARE(w.Controller().Detection(), Detection_Settings::Parse(kThree_Areas));
        QCOMPARE(w.Controller().Detection().areas.size(), size_t(3));
    }

    void ok_keeps_the_dialog_in_detection_ini_and_the_recording_follows() {
        Harness h;
        h.dir.Write("data/detection.ini", kThree_Areas);
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        w.Sampling_Timer().stop(); // the ticks come from the test
        test::Through_Menu<TF_Detection>(w, "Detection...", [&](TF_Detection& dialog) {
            QCOMPARE(dialog.windowModality(), Qt::WindowModal);
            QCOMPARE(dialog.parentWidget(), &w.Window());
            QCOMPARE(dialog.Settings(), Detection_Settings::Parse(kThree_Areas));
            // Ticks while it is open: their frames and levels reach it.
            for (int variant : {0, 2}) {
                h.camera->frames.push_back(test::Texture(variant));
                w.TMR_Refresh_IMGTimer();
            }
            Area_Canvas& canvas = *dialog.Form().CNV_Areas;
            QVERIFY(!canvas.Frame().isNull());
            QCOMPARE(canvas.Frame(), w.Controller().Live_Frame());
            const Motion_Reading& reading = w.Controller().Last_Reading();
            QCOMPARE(reading.watch_levels.size(), size_t(1));
            QCOMPARE(canvas.Labels().front(),
                     QString::number(reading.watch_levels.front(), 'f', 1) + " %");
            QVERIFY(canvas.Labels().front() != "0.0 %");

            dialog.Form().LST_Areas->setCurrentRow(0);
            dialog.Form().BTN_Remove->click();
            dialog.Form().RBN_Ignore->click();
            Draw_From_Corner(dialog);
            dialog.Form().CKB_Ignore_Light->click();
            dialog.Form().SPN_Pre_Capture->setValue(12);
            dialog.Form().BTN_Detection_Box->button(QDialogButtonBox::Ok)->click();
        });
        const std::string expected = "[detection]\n"
                                     "Ignore_Light=1\n"
                                     "Pre_Capture=12\n"
                                     "[areas]\n"
                                     "Area1=ignore,0,0,10000,1500\n"
                                     "Area2=hide,7500,7500,2500,2500\n"
                                     "Area3=ignore,25,33,9975,9967\n";
        QCOMPARE(QString::fromStdString(h.dir.Read("data/detection.ini")),
                 QString::fromStdString(expected));
        QCOMPARE(w.Controller().Detection(), Detection_Settings::Parse(expected));
        QVERIFY(w.Detection().Dialog() == nullptr);
        // No dialog open: a tick has nothing to feed.
        h.camera->frames.push_back(test::Texture(1));
        w.TMR_Refresh_IMGTimer();
    }

    void cancel_changes_nothing() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        const Detection_Settings before = w.Controller().Detection();
        test::Through_Menu<TF_Detection>(w, "Detection...", [&](TF_Detection& dialog) {
            Draw_From_Corner(dialog);
            dialog.Form().CKB_Ignore_Light->click();
            QCOMPARE(dialog.Settings().areas.size(), size_t(1));
            dialog.Form().BTN_Detection_Box->button(QDialogButtonBox::Cancel)->click();
        });
        QVERIFY(!std::filesystem::exists(h.Data() + "detection.ini"));
        QCOMPARE(w.Controller().Detection(), before);
    }

    void a_file_that_cannot_be_written_is_said_and_nothing_changes() {
        Harness h;
        h.dir.Write("data/detection.ini", kThree_Areas);
        Vistrel_App& w = h.Create();
        h.Activate();
        std::filesystem::remove_all(h.Data());
        std::ofstream(h.dir.Folder() + "data") << "not a folder";
        QString warned;
        QTimer::singleShot(0, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                    warned = box->text();
                    box->accept();
                }
        });
        QVERIFY(!w.Detection().Apply(Detection_Settings{}));
        QVERIFY2(warned.startsWith("The detection settings could not be saved"),
                 qPrintable(warned));
        QCOMPARE(w.Controller().Detection(), Detection_Settings::Parse(kThree_Areas));
    }

    // The end of the run answers the dialog with "no": its wait returns,
    // and nothing it shows is kept.
    void closing_the_program_closes_the_dialog() {
        Harness h;
        h.dir.Write("data/detection.ini", kThree_Areas);
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        QSignalSpy closed(&w, &Vistrel_App::Closed);
        test::Through_Menu<TF_Detection>(w, "Detection...", [&](TF_Detection& dialog) {
            Draw_From_Corner(dialog);
            QTimer::singleShot(0, &w.Window(), [&w] { w.Window().close(); });
        });
        QCOMPARE(closed.count(), 1);
        QVERIFY(test::Open_Dialog<TF_Detection>() == nullptr);
        QCOMPARE(h.dir.Read("data/detection.ini"), std::string(kThree_Areas));
        QCOMPARE(w.Controller().Detection().areas.size(), size_t(3));
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Detection_Window_Test)
#include "detection_window_test.moc"
