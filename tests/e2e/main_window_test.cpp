// The main window's behaviour: settings loaded, saved and applied, start-up
// and shutdown, tray menu, links and placement, on the offscreen platform
// with a scripted camera and clock.
#include "settings/ini_store.h"
#include "support/fresh_datas_ini.h"
#include "support/window_harness.h"
#include "ui/cached_background.h"
#include "ui/folder_edit.h"
#include "ui/form_recording_view.h"
#include "ui/main_window.h"
#include "ui/panel_colour.h"
#include "ui/picture_menu.h"
#include "ui/storage_dialog.h"
#include "ui/tray_presence.h"
#include "ui_UF_Main.h"
#include "ui_UF_Storage.h"
#include "ui_UF_Update.h"
#include "update/update_check.h"
#include "update/update_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sys/inotify.h>
#include <unistd.h>

static void Init_Resources() {
    Q_INIT_RESOURCE(vistrel);
}

namespace vistrel {
namespace {

using test::Harness;

// Counts the events each watched object receives, by type.
class Event_Counter : public QObject {
public:
    int Count(QObject* object, QEvent::Type type) const {
        const auto found = counts_.find({object, type});
        return found == counts_.end() ? 0 : found->second;
    }
    void Clear() { counts_.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        ++counts_[{watched, event->type()}];
        return false;
    }

private:
    std::map<std::pair<QObject*, QEvent::Type>, int> counts_;
};

} // namespace

class Main_Window_Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Init_Resources(); }

    void fresh_data_folder_gets_every_default_in_order() {
        Harness h;
        Vistrel_App& w = h.Create();
        QCOMPARE(QString::fromStdString(h.dir.Read("data/datas.ini")),
                 QString("[string]\r\nDED_Dest_Folder=%1\r\n")
                     .arg(QString::fromStdString(h.Pictures())));
        QVERIFY(!w.Sampling_Timer().isActive());
        QVERIFY(w.Updates().Timer().isActive());
        QCOMPARE(w.Form().EDT_Seuil_Detect->text(), QString("0"));

        h.Activate();
        QCOMPARE(QString::fromStdString(h.dir.Read("data/datas.ini")),
                 QString::fromStdString(test::Fresh_Datas_Ini(h.Pictures())));
        auto& f = w.Form();
        QVERIFY(f.RBT_Rec_Launch_0->isChecked());
        QVERIFY(f.RBT_Mode_Start_0->isChecked());
        QCOMPARE(f.DED_Dest_Folder->path(), QString::fromStdString(h.Pictures()));
        QCOMPARE(f.EDT_Seuil_Detect->text(), QString("5"));
        QCOMPARE(f.EDT_Timer_Refresh->text(), QString("200"));
        QCOMPARE(f.EDT_Delay_Avant_Rec->text(), QString("5"));
        QCOMPARE(f.EDT_Delay_Apres_Rec->text(), QString("20"));
        QCOMPARE(f.CBX_JPEG_Size->currentText(), QString("640x480"));
        QCOMPARE(f.EDT_Nb_Max_File->text(), QString("30000"));
        QCOMPARE(f.EDT_File_Name->text(), QString("Img_"));
        QVERIFY(!f.EDT_File_Name->isEnabled());
        QVERIFY(w.Sampling_Timer().isActive());
        QCOMPARE(w.Sampling_Timer().interval(), 200);
        QCOMPARE(h.Status(3), QString("contact  |  Vistrel V3.2"));
    }

    void closing_before_the_first_activation_keeps_the_settings_file() {
        Harness h;
        h.Write_Settings("[integer]\r\nEDT_Seuil_Detect=42\r\n");
        Vistrel_App& w = h.Create();
        w.Window().close();
        QVERIFY(
            !QString::fromStdString(h.dir.Read("data/datas.ini")).contains("EDT_Seuil_Detect=0"));
        QVERIFY(
            QString::fromStdString(h.dir.Read("data/datas.ini")).contains("EDT_Seuil_Detect=42"));
    }

    void first_activation_only_loads_once() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Form().EDT_Seuil_Detect->setText("42");
        h.Activate();
        QCOMPARE(w.Form().EDT_Seuil_Detect->text(), QString("42"));
    }

    void stored_values_load_and_save_back_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("saved");
        QTest::newRow("empty string stays empty") << "[string]\r\nEDT_File_Name=\r\n"
                                                  << "EDT_File_Name"
                                                  << ""
                                                  << "EDT_File_Name=\r\n";
        QTest::newRow("abc reads 0") << "[integer]\r\nEDT_Timer_Refresh=abc\r\n"
                                     << "EDT_Timer_Refresh"
                                     << "0"
                                     << "EDT_Timer_Refresh=0\r\n";
        QTest::newRow("launch 2") << "[integer]\r\nRBT_Rec_Launch=2\r\n"
                                  << "RBT_Rec_Launch_2"
                                  << "checked"
                                  << "RBT_Rec_Launch=2\r\n";
        QTest::newRow("launch 5") << "[integer]\r\nRBT_Rec_Launch=5\r\n"
                                  << "RBT_Rec_Launch_0"
                                  << "unchecked"
                                  << "RBT_Rec_Launch=0\r\n";
        QTest::newRow("mode 7") << "[integer]\r\nRBT_Mode_Start=7\r\n"
                                << "RBT_Mode_Start_1"
                                << "unchecked"
                                << "RBT_Mode_Start=0\r\n";
        QTest::newRow("box 2") << "[integer]\r\nCKB_Use_FTP=2\r\n"
                               << "CKB_Use_FTP"
                               << "unchecked"
                               << "CKB_Use_FTP=0\r\n";
        QTest::newRow("password kept in clear") << "[string]\r\nEDT_FTP_Password=s3cret\r\n"
                                                << "EDT_FTP_Password"
                                                << "s3cret"
                                                << "EDT_FTP_Password=s3cret\r\n";
        QTest::newRow("hex threshold") << "[integer]\r\nEDT_Seuil_Detect=0x10\r\n"
                                       << "EDT_Seuil_Detect"
                                       << "16"
                                       << "EDT_Seuil_Detect=16\r\n";
    }
    void stored_values_load_and_save_back() {
        QFETCH(QString, stored);
        QFETCH(QString, control);
        QFETCH(QString, shown);
        QFETCH(QString, saved);
        Harness h;
        h.Write_Settings(stored.toStdString());
        Vistrel_App& w = h.Create();
        h.Activate();
        QWidget* widget = w.Window().findChild<QWidget*>(control);
        QVERIFY(widget != nullptr);
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            QCOMPARE(edit->text(), shown);
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            QCOMPARE(button->isChecked(), shown == "checked");
        w.Save_Settings();
        QVERIFY(QString::fromStdString(h.dir.Read("data/datas.ini")).contains(saved));
        if (control == "RBT_Rec_Launch_0" && shown == "unchecked") {
            QVERIFY(!w.Form().RBT_Rec_Launch_1->isChecked());
            QVERIFY(!w.Form().RBT_Rec_Launch_2->isChecked());
        }
    }

    // A close on a slow card waits for one write, and a kill during it
    // leaves the old settings or the new ones, never a mix.
    void saving_the_settings_replaces_the_file_once_with_the_bytes_of_key_by_key_writes() {
        Harness h;
        h.Write_Settings("; kept\r\n[integer]\r\nEDT_Seuil_Detect=9\r\n[Other]\r\nX=1\r\n");
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Form().EDT_Seuil_Detect->setText("12");
        w.Form().EDT_FTP_Login->setText("cam");
        w.Form().RBT_Rec_Launch_2->setChecked(true);
        const std::string before = h.dir.Read("data/datas.ini");
        const std::string copy = h.dir.File("copy.ini");
        h.dir.Write("copy.ini", before);
        const auto& f = w.Form();
        const std::vector<std::pair<const char*, std::string>> keys = {
            {"RBT_Rec_Launch", "2"},         {"RBT_Mode_Start", "0"},
            {"DED_Dest_Folder", ""},         {"EDT_Seuil_Detect", "12"},
            {"EDT_Nb_Max_File", "30000"},    {"EDT_Timer_Refresh", "200"},
            {"EDT_Delay_Avant_Rec", "5"},    {"EDT_Delay_Apres_Rec", "20"},
            {"CBX_JPEG_Size", "0"},          {"CKB_Add_Time_Date", "0"},
            {"CKB_Sensitivity_Dark", "0"},   {"CKB_Use_FTP", "0"},
            {"CKB_Use_Same_File_Name", "0"}, {"EDT_File_Name", ""},
            {"EDT_FTP_Server_Name", ""},     {"EDT_FTP_Login", ""},
            {"EDT_FTP_Password", ""}};
        for (const auto& [key, value] : keys) {
            const std::string name = key;
            if (name == "DED_Dest_Folder")
                Ini_Write_String(copy, "string", key, f.DED_Dest_Folder->path().toStdString());
            else if (name == "EDT_File_Name")
                Ini_Write_String(copy, "string", key, f.EDT_File_Name->text().toStdString());
            else if (name == "EDT_FTP_Login")
                Ini_Write_String(copy, "string", key, "cam");
            else if (name.rfind("EDT_FTP", 0) == 0)
                Ini_Write_String(copy, "string", key, "");
            else
                Ini_Write_String(copy, "integer", key, value);
        }

        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, h.dir.File("data").c_str(), IN_MOVED_TO) >= 0);
        w.Save_Settings();
        int replaced = 0;
        alignas(inotify_event) char events[8192];
        for (ssize_t got; (got = ::read(watch, events, sizeof events)) > 0;)
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len > 0 && std::string(event->name) == "datas.ini")
                    ++replaced;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        ::close(watch);
        QCOMPARE(replaced, 1);
        QCOMPARE(QString::fromStdString(h.dir.Read("data/datas.ini")),
                 QString::fromStdString(h.dir.Read("copy.ini")));
    }

    // A build's example web address must not open a dead page in the user's
    // browser at every start; a real one keeps the check.
    void the_update_check_asks_only_a_real_web_server_of_a_build_that_has_it_data() {
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("placeholder");
        QTest::newRow("built-in example") << "http://vistrel.example.org" << true;
        QTest::newRow("example.com, upper case") << "HTTPS://WWW.Example.COM/" << true;
        QTest::newRow("example.net") << "http://example.net:8080" << true;
        QTest::newRow(".invalid") << "http://updates.invalid" << true;
        QTest::newRow(".example") << "http://updates.example" << true;
        QTest::newRow("a test server") << "http://web.test" << false;
        QTest::newRow("localhost") << "http://localhost:8080" << false;
        QTest::newRow("loopback") << "http://127.0.0.1:8099" << false;
        QTest::newRow("a real host") << "https://vistrel.org" << false;
        QTest::newRow("a host merely containing the word") << "http://myexample.org" << false;
        QTest::newRow("example as a path") << "http://host.org/example.org" << false;
    }
    void the_update_check_asks_only_a_real_web_server_of_a_build_that_has_it() {
        QFETCH(QString, base);
        QFETCH(bool, placeholder);
        QCOMPARE(Is_Placeholder_Web_Base(base), placeholder);
        QCOMPARE(Update_Check_Wanted(true, base), !placeholder);
        QVERIFY(!Update_Check_Wanted(false, base));
    }

    // Whatever is open when the end comes is closed with "no", so that its
    // wait returns and the run ends; nothing it would have done follows.
    void closing_with_a_dialog_or_menu_open_closes_it_data() {
        QTest::addColumn<QString>("open");
        QTest::newRow("update dialog") << "update";
        QTest::newRow("Storage dialog") << "storage";
        QTest::newRow("live picture's menu") << "menu";
    }
    void closing_with_a_dialog_or_menu_open_closes_it() {
        QFETCH(QString, open);
        Harness h;
        h.version_body = "V9.9";
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        QSignalSpy closed(&w, &Vistrel_App::Closed);
        const Storage_Settings storage_before = w.Storage();

        bool closed_it = false;
        bool left_open = false;
        QTimer closer;
        closer.setInterval(20);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            QWidget* shown = open == "menu" ? QApplication::activePopupWidget()
                                            : QApplication::activeModalWidget();
            if (!closed_it) {
                if (shown == nullptr || !shown->isVisible())
                    return;
                closed_it = true;
                w.Window().close();
                return;
            }
            // Still there after the close: end it here, so the test fails
            // instead of waiting for ever.
            closer.stop();
            if (shown != nullptr && shown->isVisible()) {
                left_open = true;
                if (auto* dialog = qobject_cast<QDialog*>(shown))
                    dialog->done(QDialog::Rejected);
                else
                    shown->close();
            }
        });
        closer.start();
        if (open == "update")
            w.Updates().TMR_UpdateTimer();
        else if (open == "storage")
            QTimer::singleShot(0, &w, [&w] { w.MNI_StorageClick(); });
        else
            QTimer::singleShot(0, &w, [&w] {
                emit w.Form().IMG_WebCam->customContextMenuRequested(QPoint(20, 20));
            });
        QTRY_VERIFY_WITH_TIMEOUT(closed_it && !closer.isActive(), 10000);
        QVERIFY(!left_open);
        QCOMPARE(closed.count(), 1);
        QVERIFY(!w.Window().isVisible());
        // The update dialog's "no" opens nothing more than the check did.
        if (open == "update")
            QCOMPARE(h.opened.size(), size_t(1));
        QCOMPARE(w.Storage().keep_free, storage_before.keep_free);
    }

    // A version answer that comes once the window is closed opens no page
    // and no dialog.
    void an_update_answer_after_the_close_opens_nothing() {
        Harness h;
        h.hold_version_answer = true;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Updates().TMR_UpdateTimer();
        QVERIFY(h.held_version_answer != nullptr);
        w.Window().close();
        bool dialog_shown = false;
        QTimer watcher;
        watcher.setInterval(20);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialog_shown = true;
                dialog->done(QDialog::Rejected);
            }
        });
        watcher.start();
        h.held_version_answer(std::string("V9.9"));
        QTest::qWait(200);
        QVERIFY(!dialog_shown);
        QVERIFY(h.opened.empty());
        // Nor is the version asked for again.
        QVERIFY(!w.Updates().Timer().isActive());
    }

    // A second start on the same data folder brings the window forward,
    // from the taskbar or from the notification area.
    void another_start_brings_the_window_forward() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        w.Window().showMinimized();
        w.Show_From_Another_Start();
        QVERIFY(w.Window().isVisible());
        QVERIFY(!w.Window().isMinimized());
        w.Window().hide(); // as in the notification area
        w.Show_From_Another_Start();
        QVERIFY(w.Window().isVisible());
        QVERIFY(!w.Window().isMinimized());
        w.Window().close();
        w.Show_From_Another_Start();
        QVERIFY(!w.Window().isVisible());
    }

    void working_settings_follow_the_controls() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        auto& f = w.Form();
        f.EDT_Timer_Refresh->setText("10");
        f.EDT_Delay_Avant_Rec->setText("7");
        f.EDT_Delay_Apres_Rec->setText("");
        f.EDT_Seuil_Detect->setText("-3");
        f.DED_Dest_Folder->setPath("/srv/pics");
        f.EDT_FTP_Server_Name->setText("ftp.test:2121");
        const Working_Settings s = w.View().Read_Parameters();
        QCOMPARE(s.Sampling_ms, 50);
        QCOMPARE(w.Sampling_Timer().interval(), 50);
        QCOMPARE(f.EDT_Timer_Refresh->text(), QString("10"));
        QCOMPARE(s.Delay_Start_ms, 7000);
        QCOMPARE(s.Delay_Stop_ms, 0);
        QCOMPARE(s.Threshold, -3.0);
        QCOMPARE(QString::fromStdString(s.Dest_Folder), QString("/srv/pics/"));
        QCOMPARE(QString::fromStdString(s.FTP_Server), QString("ftp.test:2121"));
        // Seconds beyond the 32-bit milliseconds wrap instead of overflowing.
        f.EDT_Delay_Avant_Rec->setText("3000000");
        QCOMPARE(w.View().Read_Parameters().Delay_Start_ms, int32_t(3000000000LL - 4294967296LL));

        f.DED_Dest_Folder->setPath("/");
        QCOMPARE(QString::fromStdString(w.View().Read_Parameters().Dest_Folder), QString("//"));
        w.Save_Settings();
        const QString file = QString::fromStdString(h.dir.Read("data/datas.ini"));
        QVERIFY(file.contains("EDT_Timer_Refresh=10\r\n"));
        QVERIFY(file.contains("DED_Dest_Folder=/\r\n"));
        QVERIFY(file.contains("EDT_Delay_Apres_Rec=0\r\n"));
    }

    void check_boxes_apply_at_once() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        auto& f = w.Form();
        f.CKB_Use_Same_File_Name->setChecked(true);
        QVERIFY(f.EDT_File_Name->isEnabled());
        QVERIFY(f.LBL_File_Name->isEnabled());
        QVERIFY(w.Working().Use_Same_File_Name);
        f.CKB_Use_FTP->setChecked(true);
        QVERIFY(w.Working().Use_FTP);
        f.CKB_Use_Same_File_Name->setChecked(false);
        QVERIFY(!f.EDT_File_Name->isEnabled());
        QVERIFY(!f.LBL_File_Name->isEnabled());
    }

    void leaving_a_timing_edit_applies_it_and_enter_moves_on() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        QApplication::setActiveWindow(&w.Window());
        h.Activate();
        auto& f = w.Form();
        f.EDT_Delay_Avant_Rec->setFocus();
        QVERIFY(f.EDT_Delay_Avant_Rec->hasFocus());
        QTest::keyClicks(f.EDT_Delay_Avant_Rec, "9");
        QTest::keyClick(f.EDT_Delay_Avant_Rec, Qt::Key_Return);
        QVERIFY(!f.EDT_Delay_Avant_Rec->hasFocus());
        QCOMPARE(w.Working().Delay_Start_ms, 59000);
        // Letters never get into an integer edit.
        f.EDT_Seuil_Detect->setText("");
        QTest::keyClicks(f.EDT_Seuil_Detect, "1a2");
        QCOMPARE(f.EDT_Seuil_Detect->text(), QString("12"));
        // A thousands separator would read as 0 later: it never gets in.
        f.EDT_Nb_Max_File->setText("");
        QTest::keyClicks(f.EDT_Nb_Max_File, "30,000");
        QCOMPARE(f.EDT_Nb_Max_File->text(), QString("30000"));
    }

    void launch_options_start_recording() {
        {
            Harness h;
            h.Write_Settings("[integer]\r\nRBT_Rec_Launch=1\r\n");
            Vistrel_App& w = h.Create();
            h.Activate();
            QVERIFY(w.Controller().State().Rec_Continuous);
            QVERIFY(!w.Form().BTN_FTP_Test->isEnabled());
        }
        {
            Harness h;
            h.Write_Settings("[integer]\r\nRBT_Rec_Launch=2\r\n");
            Vistrel_App& w = h.Create();
            h.clock->ticks = 123456;
            h.Activate();
            QVERIFY(w.Controller().State().Rec_Armed);
            QCOMPARE(w.Controller().State().Tick_Armed, 123456u);
        }
    }

    void episode_counters_come_from_todays_folders() {
        Harness h;
        h.Write_Settings("[string]\r\nDED_Dest_Folder=" + h.Pictures() + "\r\n");
        std::filesystem::create_directories(h.Pictures() + "/RIDEV_2026_12_08/D0007");
        std::filesystem::create_directories(h.Pictures() + "/RIDEV_2026_12_08/R0004");
        Vistrel_App& w = h.Create();
        QCOMPARE(w.Controller().State().Num_Folder_D, 7);
        QCOMPARE(w.Controller().State().Num_Folder_R, 4);
    }

    void minimized_launch_mode_hides_in_the_tray() {
        for (const bool tray : {true, false}) {
            Harness h;
            h.tray = tray;
            h.Write_Settings("[integer]\r\nRBT_Mode_Start=1\r\n");
            Vistrel_App& w = h.Create();
            w.Window().show();
            h.Activate();
            // Without a notification area the window must stay reachable.
            QCOMPARE(w.Window().isVisible(), !tray);
            QVERIFY(w.Sampling_Timer().isActive());
            w.Tray().MNI_RestoreClick();
            QVERIFY(w.Window().isVisible());
        }
    }

    // The icon is there in every state, also before a notification area is;
    // the window hides only while one shows the icon, and follows one that
    // comes late or goes away.
    void tray_that_comes_late_or_goes_keeps_the_window_reachable() {
        Harness h;
        h.tray = false;
        h.Write_Settings("[integer]\r\nRBT_Mode_Start=1\r\n");
        Vistrel_App& w = h.Create();
        QVERIFY(w.Tray().Icon().isVisible());
        w.Window().show();
        h.Activate();
        QVERIFY(w.Window().isVisible());
        QVERIFY(w.Window().isMinimized());
        QVERIFY(!h.skip_taskbar.empty() && !h.skip_taskbar.back());
        w.Tray().TMR_Tray_WatchTimer();
        QVERIFY(w.Window().isVisible());

        h.tray = true; // the panel starts
        w.Tray().TMR_Tray_WatchTimer();
        QVERIFY(!w.Window().isVisible());

        h.tray = false; // and goes
        w.Tray().TMR_Tray_WatchTimer();
        QVERIFY(w.Window().isVisible());
        QVERIFY(w.Window().isMinimized());
        QCOMPARE(h.skip_taskbar.back(), false);
    }

    // Restored from the tray: shown without a taskbar entry, whatever the
    // mode; minimizing in normal mode brings the entry back.
    void restore_leaves_the_taskbar_and_a_normal_minimize_comes_back() {
        for (const bool minimized_mode : {false, true}) {
            Harness h;
            h.Write_Settings(minimized_mode ? "[integer]\r\nRBT_Mode_Start=1\r\n" : "");
            Vistrel_App& w = h.Create();
            w.Window().show();
            h.Activate();
            QCOMPARE(w.Window().isVisible(), !minimized_mode);
            h.skip_taskbar.clear();
            w.Tray().MNI_RestoreClick();
            QVERIFY(w.Window().isVisible());
            const std::vector<bool> restored{true};
            QCOMPARE(h.skip_taskbar, restored);
            // As the window manager minimizes it.
            w.Window().setWindowState(w.Window().windowState() | Qt::WindowMinimized);
            if (minimized_mode) {
                QVERIFY(!w.Window().isVisible());
                QCOMPARE(h.skip_taskbar, restored);
            } else {
                QVERIFY(w.Window().isVisible());
                QCOMPARE(h.skip_taskbar, (std::vector<bool>{true, false}));
            }
        }
    }

    void only_the_right_button_opens_the_tray_menu() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
                                  QSystemTrayIcon::MiddleClick}) {
            w.Tray().Tray_Icon_Message(reason);
            QVERIFY(!w.Tray().Menu().isVisible());
        }
        w.Tray().Tray_Icon_Message(QSystemTrayIcon::Context);
        QVERIFY(w.Tray().Menu().isVisible());
        w.Tray().Menu().close();
    }

    void live_picture_menu_switches_the_start_at_login() {
        Harness h;
        Vistrel_App& w = h.Create();
        const std::string entry = h.dir.Folder() + "config/autostart/vistrel.desktop";
        const auto at_login = [&] {
            QMenu menu;
            w.Live_Picture_Menu().Fill_Picture_Menu(menu);
            for (QAction* a : menu.actions())
                if (a->text() == "Start Vistrel when I log in")
                    return std::make_pair(a->isChecked(), QPointer<QAction>(a));
            return std::make_pair(false, QPointer<QAction>());
        };
        {
            QMenu menu;
            w.Live_Picture_Menu().Fill_Picture_Menu(menu);
            QAction* item = menu.actions().last();
            QCOMPARE(item->text(), QString("Start Vistrel when I log in"));
            QVERIFY(item->isCheckable());
            QVERIFY(!item->isChecked());
            item->trigger();
        }
        QVERIFY(h.dir.Read("config/autostart/vistrel.desktop").find("Exec=/usr/bin/vistrel\n") !=
                std::string::npos);
        QVERIFY(at_login().first);
        {
            QMenu menu;
            w.Live_Picture_Menu().Fill_Picture_Menu(menu);
            menu.actions().last()->trigger();
        }
        QVERIFY(!std::filesystem::exists(entry));
    }

    void tray_menu() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        QCOMPARE(w.Tray().Icon().toolTip(), QString("Vistrel"));
        QStringList items;
        for (QAction* a : w.Tray().Menu().actions())
            items << a->text();
        QCOMPARE(items, QStringList({"Episodes...", "Minimize", "Restore", "Exit"}));
        w.Tray().Menu().actions()[1]->trigger();
        QVERIFY(w.Window().isVisible());
        QVERIFY(!w.Window().isMinimized());
        QSignalSpy closed(&w, &Vistrel_App::Closed);
        w.Form().EDT_Seuil_Detect->setText("33");
        w.Tray().Menu().actions()[3]->trigger();
        QCOMPARE(closed.count(), 1);
        QVERIFY(QString::fromStdString(h.dir.Read("data/datas.ini"))
                    .contains("EDT_Seuil_Detect=33\r\n"));
    }

    void links_open_their_pages_and_a_failing_update_link_switches_off() {
        Harness h;
        Vistrel_App& w = h.Create();
        QVERIFY(!w.Form().BTN_Paypal->isVisibleTo(&w.Window()));
        w.Form().BTN_Site_Kesto->click();
        w.Form().BTN_Update->click();
        QCOMPARE(h.opened.size(), size_t(2));
        QCOMPARE(h.opened[0].toString(), QString("http://web.test/software/index.html"));
        QCOMPARE(h.opened[1].toString(), QString("http://web.test/vistrel/"));
        h.open_succeeds = false;
        w.Form().BTN_Update->click();
        w.Form().BTN_Update->click();
        QCOMPARE(h.opened.size(), size_t(3));
        QVERIFY(!w.Form().LBL_Update->isEnabled());
    }

    void donation_button_shows_with_an_address() {
        Harness h;
        h.donation = "http://give.test/";
        Vistrel_App& w = h.Create();
        QVERIFY(w.Form().BTN_Paypal->isVisibleTo(&w.Window()));
        w.Form().BTN_Paypal->click();
        QCOMPARE(h.opened.at(0).toString(), QString("http://give.test/"));
    }

    void placement_is_restored_into_the_desktop_and_saved_at_the_end_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("desktop_width");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("fits") << "200,0,1,100,50,690,669" << 1280 << QRect(100, 50, 590, 619);
        QTest::newRow("moved left") << "200,0,1,100,50,690,669" << 640 << QRect(50, 50, 590, 619);
        QTest::newRow("wrong mark") << "100,0,1,100,50,690,669" << 1280 << QRect();
        QTest::newRow("six fields") << "200,0,1,100,50,690" << 1280 << QRect();
    }
    void placement_is_restored_into_the_desktop_and_saved_at_the_end() {
        QFETCH(QString, stored);
        QFETCH(int, desktop_width);
        QFETCH(QRect, expected);
        Harness h;
        h.desktop = {0, 0, desktop_width, 1024};
        h.dir.Write("data/appli.ini", "[Common]\r\nF_Main=" + stored.toStdString() +
                                          "\r\nF_MainColor=1\r\nF_MainFont=x\r\n");
        {
            Vistrel_App& w = h.Create();
            const QSize design = w.Window().size();
            w.Window().show();
            if (expected.isNull()) {
                // The design placement: the window's top left corner at 0, 0.
                QCOMPARE(w.Window().frameGeometry().topLeft(), QPoint(0, 0));
                QCOMPARE(w.Window().size(), design);
            } else {
                QCOMPARE(w.Window().geometry(), expected);
            }
            h.window.reset();
        }
        const auto saved = Ini_Read_Existing(h.Data() + "appli.ini", "Common", "F_Main");
        QVERIFY(saved.has_value());
        QVERIFY(QString::fromStdString(*saved).startsWith("200,0,1,"));
        QVERIFY(!Ini_Read_Existing(h.Data() + "appli.ini", "Common", "F_MainColor"));
        QVERIFY(!Ini_Read_Existing(h.Data() + "appli.ini", "Common", "F_MainFont"));
    }

    void update_check_data() {
        QTest::addColumn<QString>("answer"); // "-" for no answer at all
        QTest::addColumn<int>("age_days");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("dialog"); // first line shown, empty when no dialog
        QTest::addColumn<int>("pages_opened");
        QTest::newRow("newer, answered no")
            << "V3.3" << 5 << false << "Your version V3.2 of Vistrel is out of date !" << 1;
        QTest::newRow("same, recent file") << "V3.2" << 5 << false << "" << 1;
        QTest::newRow("older, old file")
            << "V3.1" << 30 << false << "Your version V3.2 of Vistrel is out of date !" << 1;
        QTest::newRow("unreachable, old file") << "-" << 30 << false << "Your application :" << 1;
        QTest::newRow("comma version")
            << "V3,3" << 5 << false << "Your version V3.2 of Vistrel is out of date !" << 1;
        QTest::newRow("V3.10 reads V3.1") << "V3.10" << 5 << false << "" << 1;
        QTest::newRow("newer, answered yes")
            << "V3.3" << 5 << true << "Your version V3.2 of Vistrel is out of date !" << 2;
    }
    void update_check() {
        QFETCH(QString, answer);
        QFETCH(int, age_days);
        QFETCH(bool, yes);
        QFETCH(QString, dialog);
        QFETCH(int, pages_opened);
        Harness h;
        if (answer != "-")
            h.version_body = answer.toStdString();
        h.now = std::time(nullptr);
        h.program_modified = h.now - age_days * 86400;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Form().EDT_Seuil_Detect->setText("77");
        QSignalSpy closed(&w, &Vistrel_App::Closed);

        QString shown;
        QString version_shown;
        // Answers the dialog once it is up.
        QTimer answerer;
        answerer.setInterval(10);
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            auto* d = qobject_cast<TF_Update*>(QApplication::activeModalWidget());
            if (d == nullptr || !d->isVisible())
                return;
            answerer.stop();
            shown = d->Form().LBL_Update1->text().split('\n').first();
            version_shown = QString::fromStdString(d->Version_Remote);
            QVERIFY(!(d->windowFlags() & Qt::WindowCloseButtonHint));
            QCOMPARE(d->size(), QSize(405, 177));
            QTest::keyClick(d, Qt::Key_Escape);
            QVERIFY2(d->isVisible(), "only the two buttons end the dialog");
            (yes ? d->Form().BTN_Yes : d->Form().BTN_No)->click();
        });
        answerer.start();
        w.Updates().Timer().start(0);
        QTRY_COMPARE(h.opened.size(), size_t(pages_opened));
        QCOMPARE(shown, dialog);
        QCOMPARE(h.fetched_urls,
                 std::vector<std::string>{"http://web.test/kesto-soft/Vistrel/Vistrel.ver"});
        QVERIFY(!w.Updates().Timer().isActive());
        for (const QUrl& url : h.opened)
            QCOMPARE(url.toString(), QString("http://web.test/vistrel/"));
        if (answer == "V3.10")
            QCOMPARE(version_shown, QString());
        QCOMPARE(closed.count(), yes ? 1 : 0);
        if (yes)
            QVERIFY(QString::fromStdString(h.dir.Read("data/datas.ini"))
                        .contains("EDT_Seuil_Detect=77\r\n"));
    }

    // The two coloured panels change colour up to twice a tick; however
    // that is done, each must look exactly as a style sheet of its own with
    // that background made it look.
    void coloured_panels_look_as_their_own_style_sheet_made_them() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.Window()));
        QLabel* rec = w.Form().PNL_Rec;
        QWidget* detect = w.Form().PNL_Status_Detect;
        // Qt's own painting: the window's painting of the colour is taken
        // off the panel meanwhile.
        const auto as_own_sheet = [&w, rec](QWidget* panel, uint32_t colour) {
            QObject* const painter = panel == rec
                                         ? static_cast<QObject*>(w.Window().Rec_Panel_Colour())
                                         : w.Window().Detect_Panel_Colour();
            panel->removeEventFilter(painter);
            const QString before = panel->styleSheet();
            panel->setStyleSheet(
                QStringLiteral("#%1 { background-color: %2; }")
                    .arg(panel->objectName(), QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF),
                                                     int((colour >> 16) & 0xFF))
                                                  .name()));
            const QImage look = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
            panel->setStyleSheet(before);
            panel->installEventFilter(painter);
            return look;
        };
        // What the screen shows of the panel, children and all.
        const auto on_screen = [&w, rec] {
            QCoreApplication::processEvents();
            const QPoint at = rec->mapTo(&w.Window(), QPoint());
            return w.Window()
                .screen()
                ->grabWindow(w.Window().winId(), at.x(), at.y(), rec->width(), rec->height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        const struct {
            uint32_t colour;
            const char* caption;
        } shown[] = {{kColour_Lime, "Waiting for motion detection ..."},
                     {kColour_White, "Waiting for motion detection ..."},
                     {kColour_Lime, "Waiting for motion detection ..."},
                     {kColour_Red, "Recording in progress ..."},
                     {kColour_Lime, "Recording in progress ..."},
                     {uint32_t(0x00FFFF), "Waiting for motion detection ..."},
                     {kColour_White, "Recording stopped"}};
        for (const auto& [colour, caption] : shown) {
            w.View().Set_Rec_Panel(colour, caption);
            const QImage rec_look = rec->grab().toImage().convertToFormat(QImage::Format_RGB32);
            // Drawn from the look kept for this colour and caption: exactly
            // as Qt paints the panel, on the screen too. A scaled screen
            // keeps none (the panel is painted as Qt paints it).
            const bool unscaled = rec->devicePixelRatioF() == 1.0;
            QCOMPARE(w.Window().Rec_Panel_Colour()->Looks_Kept() > 0, unscaled);
            // (Qt's offscreen screen gives no picture of a scaled window.)
            if (unscaled)
                QCOMPARE(on_screen(), rec_look);
            QCOMPARE(rec_look, as_own_sheet(rec, colour));
            if (unscaled)
                QCOMPARE(on_screen(), rec_look);
            w.View().Set_Detect_Colour(colour);
            const QImage detect_look =
                detect->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(detect_look, as_own_sheet(detect, colour));
            // And after a change back, as the next tick makes it.
            QCOMPARE(rec->grab().toImage().convertToFormat(QImage::Format_RGB32), rec_look);
        }
    }

    // What a tick changes is repainted alone, and nothing is laid out again.
    // A panel polished again for its new colour changed its font twice, and
    // a text or picture that could change a widget's size asked for a new
    // layout: the status bar, or the picture, the panels and thumbnails
    // around the blinking indicator, were then all repainted at every tick.
    void a_tick_repaints_only_what_it_changed() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.Window()));
        Ui::F_Main& f = w.Form();
        auto* const time_panel = w.Window().findChild<QLabel*>(QStringLiteral("STB_Main_Panel_0"));
        auto* const measure_panel =
            w.Window().findChild<QLabel*>(QStringLiteral("STB_Main_Panel_1"));
        auto* const last_panel = w.Window().findChild<QLabel*>(QStringLiteral("STB_Main_Panel_3"));
        // No tick of its own in between.
        w.Sampling_Timer().stop();
        QImage frame(640, 480, QImage::Format_RGB32);
        struct Case {
            const char* what;
            std::function<void(int)> change;
            QWidget* changed;
        };
        const Case cases[] = {
            {"the armed indicator blinks",
             [&](int step) {
                 w.View().Set_Rec_Panel(step % 2 != 0 ? kColour_Lime : kColour_White,
                                        "Waiting for motion detection ...");
             },
             f.PNL_Rec},
            {"the detection colour",
             [&](int step) {
                 w.View().Set_Detect_Colour(step % 2 != 0 ? kColour_Lime : kColour_Red);
             },
             f.PNL_Status_Detect},
            {"the processing time",
             [&](int step) {
                 w.View().Show_Processing_Time(" Processing time : " + std::to_string(step) + "ms");
             },
             time_panel},
            {"the measure",
             [&](int step) {
                 w.View().Show_Detection("Detection : " + std::to_string(step * 11) + ".5%");
             },
             measure_panel},
            {"the live picture",
             [&](int step) {
                 frame.fill(step % 2 != 0 ? Qt::gray : Qt::darkCyan);
                 w.View().Show_Live(frame);
             },
             f.IMG_WebCam},
        };
        QWidget* const watched[] = {f.PNL_Rec,    f.PNL_Status_Detect, time_panel,    measure_panel,
                                    f.IMG_WebCam, f.IMG_Pre_1,         f.PNL_IMG_Pre, last_panel};
        QObject* const laid_out[] = {&w.Window(), f.PNL_Global, f.PNL_Before, f.STB_Main};
        // Whatever lies on a changed widget (the thumbnails on the armed
        // indicator) is painted again over it, of course.
        const auto Window_Rect = [&w](QWidget* widget) {
            return QRect(widget->mapTo(&w.Window(), QPoint()), widget->size());
        };
        // Settle what the first showing and the first colours do once.
        for (int step : {0, 1})
            for (const Case& c : cases)
                c.change(step);
        QTest::qWait(50);
        // Last, so that it sees every event before the window's own filters.
        Event_Counter counter;
        for (QWidget* widget : watched)
            widget->installEventFilter(&counter);
        for (QObject* object : laid_out)
            object->installEventFilter(&counter);
        for (const Case& c : cases)
            for (int step = 2; step < 5; ++step) {
                counter.Clear();
                c.change(step);
                QTRY_VERIFY2(counter.Count(c.changed, QEvent::Paint) > 0, c.what);
                QCoreApplication::sendPostedEvents();
                QCoreApplication::processEvents();
                for (QWidget* widget : watched)
                    if (!Window_Rect(widget).intersects(Window_Rect(c.changed)))
                        QVERIFY2(counter.Count(widget, QEvent::Paint) == 0,
                                 qPrintable(
                                     QString("%1 repainted %2").arg(c.what, widget->objectName())));
                for (QObject* object : laid_out)
                    QVERIFY2(
                        counter.Count(object, QEvent::LayoutRequest) == 0,
                        qPrintable(QString("%1 laid out %2").arg(c.what, object->objectName())));
            }
    }

    // The status texts a tick writes keep their heights once laid out; fixed
    // as they are, they must be where and as large as the layout makes them.
    void widgets_a_tick_writes_into_keep_the_layouts_sizes() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.Window()));
        w.Sampling_Timer().stop();
        w.View().Show_Processing_Time(" Processing time : 12ms");
        w.View().Show_Detection("Detection : 99.5%");
        const auto places = [&w] {
            std::vector<QRect> rects;
            for (QWidget* widget : w.Window().findChildren<QWidget*>())
                if (widget->isVisible())
                    rects.emplace_back(widget->mapTo(&w.Window(), QPoint()), widget->size());
            return rects;
        };
        const std::vector<QRect> fixed = places();
        for (int panel : {0, 1}) {
            auto* label =
                w.Window().findChild<QLabel*>(QStringLiteral("STB_Main_Panel_%1").arg(panel));
            QCOMPARE(label->maximumHeight(), label->height());
            label->setMinimumHeight(0);
            label->setMaximumHeight(QWIDGETSIZE_MAX);
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
        QCOMPARE(places(), fixed);
    }

    // In the tray nobody sees the panels: their colours wait for the
    // window, while the recording logic still reads the colour it set.
    void panel_colours_wait_until_the_window_is_seen() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Window().show();
        QLabel* rec = w.Form().PNL_Rec;
        QWidget* detect = w.Form().PNL_Status_Detect;
        w.View().Set_Rec_Panel(kColour_Lime, "Waiting for motion detection ...");
        w.View().Set_Detect_Colour(kColour_Lime);
        QCOMPARE(rec->property("panelColour").toString(), QString("#00ff00"));
        const QString sheet = rec->styleSheet();
        w.Window().hide();
        for (const uint32_t colour : {kColour_White, kColour_Lime, kColour_White}) {
            w.View().Set_Rec_Panel(colour, "Waiting for motion detection ...");
            w.View().Set_Detect_Colour(kColour_Red);
            QCOMPARE(w.View().Rec_Colour(), colour);
        }
        QCOMPARE(rec->property("panelColour").toString(), QString("#00ff00"));
        QCOMPARE(detect->property("panelColour").toString(), QString("#00ff00"));
        QCOMPARE(rec->styleSheet(), sheet);
        w.Window().show();
        QCOMPARE(rec->property("panelColour").toString(), QString("#ffffff"));
        QCOMPARE(detect->property("panelColour").toString(), QString("#ff0000"));
        // Minimized is unseen too; coming back paints the colour of now.
        w.Window().showMinimized();
        w.View().Set_Rec_Panel(kColour_Red, "Recording in progress ...");
        if (w.Window().isMinimized())
            QCOMPARE(rec->property("panelColour").toString(), QString("#ffffff"));
        w.Window().showNormal();
        QCOMPARE(rec->property("panelColour").toString(), QString("#ff0000"));
    }

    // The backdrop is painted from a picture of it made once; the window
    // must look exactly as when Qt paints the gradient itself, in every
    // part Qt would paint again, and nowhere left unpainted.
    void backdrop_from_its_picture_looks_as_qt_paints_it() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Window().show();
        QVERIFY(w.Window().Backdrop() != nullptr);
        QImage frame(1280, 720, QImage::Format_RGB32);
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x)
                frame.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
        h.camera->frames.push_back(frame);
        w.TMR_Refresh_IMGTimer();
        w.View().Set_Rec_Panel(kColour_Lime, "Waiting for motion detection ...");
        const auto look = [&](QWidget* part) {
            // Unpainted pixels would keep this colour.
            QImage image(part->size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(QColor(255, 0, 255));
            QPainter painter(&image);
            part->render(&painter);
            painter.end();
            return image.convertToFormat(QImage::Format_RGB32);
        };
        QWidget* const parts[] = {&w.Window(), w.Form().PNL_Global, w.Form().IMG_WebCam,
                                  w.Form().PNL_Rec};
        std::vector<QImage> cached;
        for (QWidget* part : parts)
            cached.push_back(look(part));
        w.Window().Backdrop()->Stop();
        for (size_t i = 0; i < std::size(parts); ++i)
            QCOMPARE(cached[i], look(parts[i]));
    }

    void ticks_show_the_camera_or_say_there_is_none() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Window().show();
        w.TMR_Refresh_IMGTimer();
        QCOMPARE(w.Form().IMG_WebCam->text(), QString("No camera found"));
        QImage frame(320, 240, QImage::Format_RGB32);
        frame.fill(Qt::gray);
        h.camera->frames.push_back(frame);
        w.TMR_Refresh_IMGTimer();
        QVERIFY(!w.Form().IMG_WebCam->pixmap().isNull());
        QCOMPARE(h.Status(1), QString("Detection : 0.0%"));
        QVERIFY(h.Status(0).startsWith(" Processing time : "));
        QCOMPARE(w.Form().PNL_Rec->text(), QString("Recording stopped"));

        // In the tray the picture is not drawn, yet the camera counts as
        // found; back on screen, the next tick draws it again.
        const qint64 drawn = w.Form().IMG_WebCam->pixmap().cacheKey();
        w.Window().hide();
        frame.fill(Qt::white);
        h.camera->frames.push_back(frame);
        w.TMR_Refresh_IMGTimer();
        QCOMPARE(w.Form().IMG_WebCam->pixmap().cacheKey(), drawn);
        QVERIFY(w.Form().IMG_WebCam->text().isEmpty());
        w.Window().show();
        h.camera->frames.push_back(frame);
        w.TMR_Refresh_IMGTimer();
        QVERIFY(w.Form().IMG_WebCam->pixmap().cacheKey() != drawn);
        QCOMPARE(w.Form().IMG_WebCam->pixmap().toImage().pixelColor(10, 10), QColor(Qt::white));
    }

    void a_picture_not_saved_is_said_over_the_strip_and_told_once_per_streak() {
        Harness h;
        Vistrel_App& w = h.Create();
        h.Activate();
        w.Window().show();
        QLabel* const problem = w.Form().LBL_Save_Problem;
        QVERIFY(!problem->isVisibleTo(&w.Window()));
        const std::string dest = h.Pictures();
        w.Form().BTN_Start_Stop_Rec->click();
        QImage frame(320, 240, QImage::Format_RGB32);
        frame.fill(Qt::gray);
        const auto tick = [&] {
            h.camera->frames.push_back(frame);
            w.TMR_Refresh_IMGTimer();
        };
        const auto block = [&] {
            std::filesystem::remove_all(dest);
            std::ofstream(dest) << "a file where the folder was";
        };
        const auto unblock = [&] { std::filesystem::remove(dest); };
        const std::string said =
            "Pictures are not being saved: a file is in the way of the folder (" + dest + ")";
        using Notice = Harness::Notice;

        tick();
        QVERIFY(!problem->isVisibleTo(&w.Window()));
        block();
        for (int k = 0; k < 3; ++k)
            tick();
        QVERIFY(problem->isVisibleTo(&w.Window()));
        QCOMPARE(problem->text().toStdString(), said);
        QCOMPARE(h.notices, (std::vector<Notice>{{said, true}}));
        // The recording indicators stay as the tick leaves them.
        QCOMPARE(w.Form().PNL_Rec->text(), QString("Recording in progress ..."));

        unblock();
        tick();
        QVERIFY(!problem->isVisibleTo(&w.Window()));
        QCOMPARE(h.notices,
                 (std::vector<Notice>{{said, true}, {"Pictures are being saved again.", false}}));
        block();
        tick();
        QCOMPARE(h.notices.size(), size_t(3));
        QCOMPARE(h.notices.back(), (Notice{said, true}));
    }

    void storage_dialog_setting_goes_to_its_own_file_and_the_keeper_follows_it() {
        Harness h;
        h.Write_Settings(test::Fresh_Datas_Ini(h.Pictures()));
        Vistrel_App& w = h.Create();
        h.Activate();
        QVERIFY(!w.Storage().keep_free);
        {
            QMenu menu;
            w.Live_Picture_Menu().Fill_Picture_Menu(menu);
            QStringList items;
            for (QAction* a : menu.actions())
                items << a->text();
            QVERIFY(items.contains("Storage..."));
        }
        const std::string settings_before = h.dir.Read("data/datas.ini");
        // A 0.1 GB disk with one old picture and a keeping of far more.
        const std::string old_picture =
            h.Pictures() + "/RIDEV_2026_12_01/D0001/I_10_00_00__00001.jpg";
        std::filesystem::create_directories(std::filesystem::path(old_picture).parent_path());
        std::ofstream(old_picture) << "jpeg";
        Storage_Settings keep;
        keep.keep_free = true;
        keep.keep_free_gb = Storage_Settings::kMost_Keep_Free_GB;
        QVERIFY(w.Apply_Storage_Settings(keep));
        QCOMPARE(Storage_Settings::Load(h.Data()).keep_free_gb, keep.keep_free_gb);
        QVERIFY(Storage_Settings::Load(h.Data()).keep_free);
        QVERIFY(h.dir.Read("data/datas.ini") == settings_before);
        // More than half of any disk: taken as no target, said once, and
        // nothing deleted.
        QTRY_VERIFY_WITH_TIMEOUT(w.Keeper().Passes() > 0 && !w.Keeper().Last_Outcome().enough_room,
                                 10000);
        QCOMPARE(w.Keeper().Last_Outcome().state, Keeper_State::Target_Too_Big);
        const auto told_too_big = [&] {
            return static_cast<int>(
                std::count_if(h.notices.begin(), h.notices.end(), [](const auto& n) {
                    return n.problem &&
                           n.text.find("more than half of the disk") != std::string::npos;
                }));
        };
        QTRY_COMPARE_WITH_TIMEOUT(told_too_big(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(w.Keeper().Passes() > 1, 20000);
        QCOMPARE(told_too_big(), 1);
        QVERIFY(std::filesystem::exists(old_picture));

        // The dialog behind the menu item shows the setting and changes it.
        QTimer::singleShot(0, [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<TF_Storage*>(top)) {
                    QVERIFY(dialog->Form().CKB_Keep_Free->isChecked());
                    dialog->Form().EDT_Keep_Free_GB->setValue(5.04);
                    dialog->accept();
                }
        });
        w.MNI_StorageClick();
        QCOMPARE(Storage_Settings::Load(h.Data()).keep_free_gb, 5.0);
        QTimer::singleShot(0, [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<TF_Storage*>(top)) {
                    dialog->Form().CKB_Keep_Free->setChecked(false);
                    QVERIFY(!dialog->Form().EDT_Keep_Free_GB->isEnabled());
                    dialog->reject();
                }
        });
        w.MNI_StorageClick();
        QVERIFY2(Storage_Settings::Load(h.Data()).keep_free, "a cancelled dialog changed it");

        // A data folder that cannot be written keeps the old setting.
        std::filesystem::remove_all(h.Data());
        std::ofstream(h.dir.Folder() + "data") << "not a folder";
        Storage_Settings off;
        QTimer::singleShot(0, [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top))
                    box->accept();
        });
        QVERIFY(!w.Apply_Storage_Settings(off));
        QVERIFY(w.Storage().keep_free);
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Main_Window_Test)
#include "main_window_test.moc"
