// The parts the main window is made of, each on its own over a real form:
// the settings controls, the notification area, the links, the placement
// and the upload status.
#include "settings/ini_store.h"
#include "settings/shared_settings.h"
#include "support/temp_dir.h"
#include "ui/folder_edit.h"
#include "ui/form_placement.h"
#include "ui/settings_form.h"
#include "ui/tray_presence.h"
#include "ui/upload_status.h"
#include "ui/web_links.h"
#include "ui_UF_Main.h"

#include <QApplication>
#include <QMainWindow>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <thread>
#include <vector>

// Outside any namespace: the macro declares the resource initialiser.
static void Init_Resources() {
    Q_INIT_RESOURCE(vistrel);
}

namespace vistrel {
namespace {

// The main window's form, as the program sets it up.
struct Form {
    QMainWindow window;
    Ui::F_Main ui;
    Form() { ui.setupUi(&window); }
};

Stored_Settings All_Set() {
    Stored_Settings v;
    v.RBT_Rec_Launch = 2;
    v.RBT_Mode_Start = 1;
    v.DED_Dest_Folder = "/srv/pics";
    v.EDT_Seuil_Detect = -3;
    v.EDT_Timer_Refresh = 10;
    v.EDT_Delay_Avant_Rec = 0;
    v.EDT_Delay_Apres_Rec = 3000000;
    v.CBX_JPEG_Size = 2;
    v.CKB_Use_FTP = 1;
    v.CKB_Use_Same_File_Name = 1;
    v.CKB_Add_Time_Date = 1;
    v.CKB_Sensitivity_Dark = 1;
    v.EDT_Nb_Max_File = 0;
    v.EDT_File_Name = "Cam_";
    v.EDT_FTP_Server_Name = "sftp://cam.test:2222";
    v.EDT_FTP_Login = "cam";
    v.EDT_FTP_Password = "s3 cret=x";
    return v;
}

Stored_Settings Launch(int32_t value) {
    Stored_Settings v;
    v.RBT_Rec_Launch = value;
    return v;
}

Stored_Settings Mode(int32_t value) {
    Stored_Settings v;
    v.RBT_Mode_Start = value;
    return v;
}

struct Tray_World {
    bool tray = true;
    bool minimized_mode = false;
    bool activated = true;
    std::vector<bool> skip_taskbar;

    Tray_Hooks Hooks() {
        return {[this] { return tray; },
                [this](QWidget&, bool skip) { skip_taskbar.push_back(skip); },
                [this] { return minimized_mode; }, [this] { return activated; }, nullptr};
    }
};

struct Tray_Form : Form {
    Tray_World world;
    std::unique_ptr<Tray_Presence> tray;
    Tray_Form() {
        QPixmap icon(16, 16);
        icon.fill(Qt::darkGreen);
        window.setWindowIcon(QIcon(icon));
        tray = std::make_unique<Tray_Presence>(window, ui.MNI_Minimize, ui.MNI_Restore, ui.MNI_Exit,
                                               world.Hooks());
    }
};

} // namespace

class Window_Parts_Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Init_Resources(); }

    void settings_form_shows_and_gives_back_the_stored_values_data() {
        QTest::addColumn<int>("row");
        QTest::newRow("defaults") << 0;
        QTest::newRow("every value set") << 1;
        QTest::newRow("launch 1, normal mode") << 2;
    }
    void settings_form_shows_and_gives_back_the_stored_values() {
        QFETCH(int, row);
        Stored_Settings stored;
        stored.DED_Dest_Folder = "/home/u/Pictures/Vistrel";
        if (row == 1)
            stored = All_Set();
        if (row == 2)
            stored.RBT_Rec_Launch = 1;
        Form f;
        Shared_Settings working;
        Settings_Form settings(f.ui, working, nullptr);
        // Shown over other values, so that nothing is left of them.
        settings.Show(row == 1 ? Stored_Settings() : All_Set());
        settings.Show(stored);
        QVERIFY(settings.Values() == stored);
        QCOMPARE(f.ui.EDT_FTP_Password->text(), QString::fromStdString(stored.EDT_FTP_Password));
        QCOMPARE(f.ui.RBT_Rec_Launch_0->isChecked(), stored.RBT_Rec_Launch == 0);
        QCOMPARE(f.ui.RBT_Rec_Launch_1->isChecked(), stored.RBT_Rec_Launch == 1);
        QCOMPARE(f.ui.RBT_Rec_Launch_2->isChecked(), stored.RBT_Rec_Launch == 2);
        QCOMPARE(f.ui.RBT_Mode_Start_1->isChecked(), stored.RBT_Mode_Start == 1);
    }

    // A value no button stands for checks none, even over a checked one, and
    // reads back as the first button's; the buttons stay exclusive after.
    void settings_form_leaves_a_group_unchecked_for_a_value_out_of_range() {
        Form f;
        Shared_Settings working;
        Settings_Form settings(f.ui, working, nullptr);
        const std::vector<QAbstractButton*> launch{f.ui.RBT_Rec_Launch_0, f.ui.RBT_Rec_Launch_1,
                                                   f.ui.RBT_Rec_Launch_2};
        for (const int32_t value : {5, -1, 3}) {
            settings.Show(Launch(2));
            settings.Show(Launch(value));
            for (QAbstractButton* button : launch)
                QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
            QCOMPARE(settings.Values().RBT_Rec_Launch, 0);
            QVERIFY(!settings.Read_Parameters_From_Controls().Launch_Rec);
        }
        for (const int32_t value : {7, 2, -1}) {
            settings.Show(Mode(1));
            settings.Show(Mode(value));
            QVERIFY(!f.ui.RBT_Mode_Start_0->isChecked());
            QVERIFY(!f.ui.RBT_Mode_Start_1->isChecked());
            QCOMPARE(settings.Values().RBT_Mode_Start, 0);
        }
        for (QAbstractButton* button : launch)
            QVERIFY(button->autoExclusive());
        launch[1]->click();
        launch[2]->click();
        QVERIFY(!launch[1]->isChecked());
        QCOMPARE(settings.Values().RBT_Rec_Launch, 2);
    }

    void settings_form_gives_the_timer_its_minimum_and_keeps_the_typed_period_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("period");
        QTest::newRow("below") << "10" << 50;
        QTest::newRow("empty") << "" << 50;
        QTest::newRow("the minimum") << "50" << 50;
        QTest::newRow("above") << "51" << 51;
        QTest::newRow("default") << "200" << 200;
    }
    void settings_form_gives_the_timer_its_minimum_and_keeps_the_typed_period() {
        QFETCH(QString, typed);
        QFETCH(int, period);
        Form f;
        Shared_Settings working;
        Settings_Form settings(f.ui, working, nullptr);
        QSignalSpy spy(&settings, &Settings_Form::Sampling_Period);
        f.ui.EDT_Timer_Refresh->setText(typed);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(settings.Read_Parameters_From_Controls().Sampling_ms, period);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), period);
        QCOMPARE(working.Get().Sampling_ms, period);
        QCOMPARE(f.ui.EDT_Timer_Refresh->text(), typed);
    }

    void settings_form_enables_the_file_name_with_its_box_only() {
        Form f;
        Shared_Settings working;
        Settings_Form settings(f.ui, working, nullptr);
        Stored_Settings stored;
        for (const bool same : {true, false, true}) {
            stored.CKB_Use_Same_File_Name = same ? 1 : 0;
            settings.Show(stored);
            settings.Read_Parameters_From_Controls();
            QCOMPARE(f.ui.EDT_File_Name->isEnabled(), same);
            QCOMPARE(f.ui.LBL_File_Name->isEnabled(), same);
            QCOMPARE(working.Get().Use_Same_File_Name, same);
        }
        // Any other box leaves them as the file-name box says.
        f.ui.CKB_Use_FTP->setChecked(true);
        QVERIFY(working.Get().Use_FTP);
        QVERIFY(f.ui.EDT_File_Name->isEnabled());
        f.ui.CKB_Use_Same_File_Name->setChecked(false);
        QVERIFY(!f.ui.EDT_File_Name->isEnabled());
        QVERIFY(!f.ui.LBL_File_Name->isEnabled());
        QVERIFY(!working.Get().Use_Same_File_Name);
    }

    // Minimized, the window goes to the notification area only where its
    // icon really is; anywhere else it keeps its taskbar entry.
    void tray_minimize_hides_only_in_minimized_mode_with_a_tray_data() {
        QTest::addColumn<bool>("minimized_mode");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("icon_shown");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("minimized mode, tray") << true << true << true << true;
        QTest::newRow("minimized mode, no tray") << true << false << true << false;
        QTest::newRow("minimized mode, icon hidden") << true << true << false << false;
        QTest::newRow("normal mode, tray") << false << true << true << false;
        QTest::newRow("normal mode, no tray") << false << false << true << false;
    }
    void tray_minimize_hides_only_in_minimized_mode_with_a_tray() {
        QFETCH(bool, minimized_mode);
        QFETCH(bool, tray);
        QFETCH(bool, icon_shown);
        QFETCH(bool, hidden);
        Tray_Form f;
        f.world.minimized_mode = minimized_mode;
        f.world.tray = tray;
        if (icon_shown)
            f.tray->Show();
        f.window.show();
        f.tray->AEV_AppliMinimize();
        QCOMPARE(f.window.isVisible(), !hidden);
        QCOMPARE(f.world.skip_taskbar, hidden ? std::vector<bool>{} : std::vector<bool>{false});
        f.tray->Hide();
    }

    void tray_watch_follows_the_notification_area_data() {
        QTest::addColumn<QString>("window"); // "tray", "minimized" or "normal"
        QTest::addColumn<bool>("activated"); // the window was activated once
        QTest::addColumn<bool>("minimized_mode");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QString>("after");    // "hidden", "minimized" or "normal"
        QTest::addColumn<int>("taskbar_asks"); // each one to come back
        QTest::newRow("tray gone") << "tray" << true << true << false << false << "minimized" << 1;
        QTest::newRow("tray still there")
            << "tray" << true << true << true << false << "hidden" << 0;
        QTest::newRow("not yet activated")
            << "tray" << false << true << false << false << "hidden" << 0;
        QTest::newRow("closing") << "tray" << true << true << false << true << "hidden" << 0;
        QTest::newRow("tray came, minimized mode")
            << "minimized" << true << true << true << false << "hidden" << 0;
        QTest::newRow("tray came, normal mode")
            << "minimized" << true << false << true << false << "minimized" << 0;
        QTest::newRow("tray came, window not minimized")
            << "normal" << true << true << true << false << "normal" << 0;
        QTest::newRow("tray came, closing")
            << "minimized" << true << true << true << true << "minimized" << 0;
    }
    void tray_watch_follows_the_notification_area() {
        QFETCH(QString, window);
        QFETCH(bool, activated);
        QFETCH(bool, minimized_mode);
        QFETCH(bool, tray);
        QFETCH(bool, closed);
        QFETCH(QString, after);
        QFETCH(int, taskbar_asks);
        Tray_Form f;
        f.world.activated = activated;
        f.world.minimized_mode = minimized_mode;
        f.tray->Show();
        if (window == "minimized")
            f.window.showMinimized();
        else if (window == "normal")
            f.window.show();
        f.world.tray = tray;
        if (closed)
            f.tray->Set_Closed();
        f.tray->TMR_Tray_WatchTimer();
        const QString state = !f.window.isVisible()    ? "hidden"
                              : f.window.isMinimized() ? "minimized"
                                                       : "normal";
        QCOMPARE(state, after);
        QCOMPARE(f.world.skip_taskbar, std::vector<bool>(size_t(taskbar_asks), false));
        f.tray->Hide();
    }

    void tray_brings_nothing_forward_once_closed() {
        Tray_Form f;
        f.tray->Show();
        f.tray->Set_Closed();
        f.tray->Show_From_Another_Start();
        QVERIFY(!f.window.isVisible());
        QVERIFY(f.world.skip_taskbar.empty());
        f.tray->Hide();
    }

    // Opening the download page may fail (no browser): the label is switched
    // off for the run rather than failing again at every click.
    void download_link_is_given_up_after_one_failure() {
        Form f;
        std::vector<bool> results{true, true, false, true};
        std::vector<QUrl> opened;
        Web_Links links(
            f.ui, Link_Addresses{"http://web.test/download/", "http://web.test/site.html", ""},
            [&](const QUrl& url) {
                opened.push_back(url);
                return results.at(opened.size() - 1);
            },
            nullptr);
        const std::vector<bool> enabled_after{true, true, false, false, false};
        for (const bool enabled : enabled_after) {
            links.LBL_UpdateClick();
            QCOMPARE(f.ui.LBL_Update->isEnabled(), enabled);
        }
        QCOMPARE(opened.size(), size_t(3));
        for (const QUrl& url : opened)
            QCOMPARE(url.toString(), QString("http://web.test/download/"));
        f.ui.BTN_Update->click();
        QCOMPARE(opened.size(), size_t(3));
        // Without a donation address nothing opens, whoever asks.
        links.BTN_PaypalClick();
        QCOMPARE(opened.size(), size_t(3));
        f.ui.BTN_Site_Kesto->click();
        QCOMPARE(opened.size(), size_t(4));
        QCOMPARE(opened.back().toString(), QString("http://web.test/site.html"));
    }

    void placement_comes_back_as_it_was_kept_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QRect>("desktop");
        QTest::addColumn<QRect>("normal");
        QTest::addColumn<bool>("maximized");
        QTest::addColumn<QString>("saved");
        QTest::newRow("maximized") << "200,0,3,100,50,690,669" << QRect(0, 0, 1280, 1024)
                                   << QRect(100, 50, 590, 619) << true << "200,0,3,100,50,690,669";
        // Minimized, it could stay iconic and never be activated.
        QTest::newRow("minimized opens normal")
            << "200,0,2,100,50,690,669" << QRect(0, 0, 1280, 1024) << QRect(100, 50, 590, 619)
            << false << "200,0,1,100,50,690,669";
        QTest::newRow("off a desktop not at the origin")
            << "200,0,1,-900,-700,-310,-81" << QRect(100, 50, 1180, 974) << QRect(100, 50, 590, 619)
            << false << "200,0,1,100,50,690,669";
    }
    void placement_comes_back_as_it_was_kept() {
        QFETCH(QString, stored);
        QFETCH(QRect, desktop);
        QFETCH(QRect, normal);
        QFETCH(bool, maximized);
        QFETCH(QString, saved);
        test::Temp_Dir dir;
        const std::string ini = dir.File("appli.ini");
        Ini_Write_String(ini, "Common", "F_Main", stored.toStdString());
        QMainWindow window;
        Restore_Placement(window, ini,
                          {desktop.left(), desktop.top(), desktop.width(), desktop.height()});
        QCOMPARE(window.isMaximized(), maximized);
        QVERIFY(!window.isMinimized());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.isMaximized(), maximized);
        QCOMPARE(maximized ? window.normalGeometry() : window.geometry(), normal);
        Save_Placement(window, ini);
        QCOMPARE(QString::fromStdString(Ini_Read_Existing(ini, "Common", "F_Main").value_or("")),
                 saved);
    }

    void upload_status_tooltip_counts_what_waits_and_what_was_refused() {
        Form f;
        Upload_Status status(f.ui, "/d/upload_refused");
        struct Step {
            size_t waiting;
            size_t refused;
            QString tooltip;
        };
        const QString refused_3 = "3 pictures refused by the server (listed in /d/upload_refused)";
        // The one picture being sent is not said to wait.
        const Step steps[] = {
            {0, 0, ""},
            {1, 0, ""},
            {2, 0, "2 pictures waiting to be sent"},
            {40, 0, "40 pictures waiting to be sent"},
            {1, 0, ""},
            {5, 3, "5 pictures waiting to be sent\n" + refused_3},
            {1, 3, refused_3},
            {0, 4, "4 pictures refused by the server (listed in /d/upload_refused)"},
        };
        for (const Step& s : steps) {
            status.Show_Backlog(s.waiting, s.refused);
            QCOMPARE(f.ui.PNL_FTP_Status_Main->toolTip(), s.tooltip);
        }
    }

    // The worker reports from its own thread: the labels change on the
    // GUI's, in the order the reports came.
    void upload_status_takes_reports_from_the_worker_thread() {
        Form f;
        Upload_Status status(f.ui, "/d/upload_refused");
        status.FTP_ClientStatus("Resolving");
        QCOMPARE(f.ui.LBL_FTP_Status->text(), QString("Resolving"));
        std::thread worker([&] {
            status.FTP_ClientStatus("Connecting");
            status.Show_Upload_File("a.jpg");
            status.FTP_ClientStatus("Connected");
            status.Show_Upload_File("b.jpg");
        });
        worker.join();
        QCOMPARE(f.ui.LBL_FTP_Status->text(), QString("Resolving"));
        QCoreApplication::processEvents();
        QCOMPARE(f.ui.LBL_FTP_Status->text(), QString("Connected"));
        QCOMPARE(f.ui.LBL_FTP_File->text(), QString("b.jpg"));
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Window_Parts_Test)
#include "window_parts_test.moc"
