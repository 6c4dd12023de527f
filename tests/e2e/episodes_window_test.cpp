// The Episodes window as the program opens it: from the live picture's menu
// and the tray's, one window at most, over the destination of the settings,
// beside a main window that stays usable, and gone with the program.
#include "app/episodes_flow.h"
#include "support/dialog_through_menu.h"
#include "support/window_harness.h"
#include "ui/episode_rows.h"
#include "ui/episodes_window.h"
#include "ui/tray_presence.h"

#include "ui_UF_Episodes.h"
#include "ui_UF_Main.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

static void Init_Resources() {
    Q_INIT_RESOURCE(vistrel);
}

namespace vistrel {

namespace {

using test::Harness;

void Trigger(QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions())
        if (action->text() == text) {
            action->trigger();
            return;
        }
    QFAIL(qPrintable("no " + text));
}

void From_Picture_Menu(Vistrel_App& w) {
    QMenu menu;
    w.Live_Picture_Menu().Fill_Picture_Menu(menu);
    Trigger(menu, "Episodes...");
}

} // namespace

class Episodes_Flow_Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Init_Resources(); }

    void the_picture_menu_offers_it_after_notifications() {
        Harness h;
        Vistrel_App& w = h.Create();
        const QStringList items = test::Picture_Menu_Items(w);
        QCOMPARE(items.indexOf("Episodes..."), items.indexOf("Notifications...") + 1);
    }

    void both_menus_open_one_window_over_the_destination_without_blocking() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        w.Sampling_Timer().stop();
        h.dir.Write("pics/RIDEV_2026_12_10/D0001/I_10_00_00__00001.jpg", "");
        From_Picture_Menu(w);
        TF_Episodes* window = w.Episodes().Window();
        QVERIFY(window != nullptr);
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowModality(), Qt::NonModal);
        QVERIFY(window->isWindow());
        QCOMPARE(window->parentWidget(), &w.Window());
        QCOMPARE(window->Form().LST_Days->count(), 1);
        QCOMPARE(window->Rows().rowCount(), 1);
        // The main window still takes the user's input.
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        // The tray's item brings the same window forward.
        Trigger(w.Tray().Menu(), "Episodes...");
        QCOMPARE(w.Episodes().Window(), window);
        // Closed by the user, the next click opens a fresh one.
        window->close();
        QTRY_VERIFY(w.Episodes().Window() == nullptr);
        Trigger(w.Tray().Menu(), "Episodes...");
        QVERIFY(w.Episodes().Window() != nullptr);
    }

    void the_episode_being_recorded_is_the_controllers() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        w.Sampling_Timer().stop();
        w.Form().BTN_Start_Stop_Rec->click();
        QImage frame(320, 240, QImage::Format_RGB32);
        frame.fill(Qt::gray);
        for (int i = 0; i < 3; ++i) {
            h.camera->frames.push_back(frame);
            w.TMR_Refresh_IMGTimer();
        }
        const std::string recording = w.Controller().Last_Episode_Folder();
        QVERIFY(!recording.empty());
        From_Picture_Menu(w);
        TF_Episodes& window = *w.Episodes().Window();
        QCOMPARE(window.Rows().rowCount(), 1);
        QVERIFY(!window.Form().BTN_Delete->isEnabled());
        w.Form().BTN_Stop->click();
        window.TMR_GrowTimer();
        QVERIFY(window.Form().BTN_Delete->isEnabled());
    }

    void the_program_closes_with_it_open() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        From_Picture_Menu(w);
        QPointer<TF_Episodes> window = w.Episodes().Window();
        QVERIFY(window);
        QSignalSpy closed(&w, &Vistrel_App::Closed);
        w.Window().close();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!window || !window->isVisible());
        // Nothing opens once the program is closing.
        From_Picture_Menu(w);
        QVERIFY(!w.Episodes().Window() || !w.Episodes().Window()->isVisible());
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Episodes_Flow_Test)
#include "episodes_window_test.moc"
