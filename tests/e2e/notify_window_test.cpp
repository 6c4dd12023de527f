// The Notifications dialog as the program runs it: opened from the live
// picture's menu over the window, kept in notify.ini on OK and used by the
// service, left alone on Cancel and closed with the program.
#include "app/notify_flow.h"
#include "support/dialog_through_menu.h"
#include "support/window_harness.h"
#include "ui/notify_dialog.h"
#include "ui/picture_menu.h"

#include "ui_UF_Notify.h"

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

const char* const kSome_Settings = "[notify]\n"
                                   "Cooldown_s=300\n"
                                   "On_End=0\n"
                                   "[ntfy]\n"
                                   "Enabled=1\n"
                                   "Server=https://ntfy.sh\n"
                                   "Topic=Zq81kPwe02LmnB7cXr4T\n"
                                   "Token=\n"
                                   "[webhook]\n"
                                   "Enabled=0\n"
                                   "URL=\n"
                                   "Token=\n"
                                   "[email]\n"
                                   "Enabled=0\n"
                                   "Server=\n"
                                   "Port=587\n"
                                   "Security=starttls\n"
                                   "Login=\n"
                                   "Password=\n"
                                   "From=\n"
                                   "To=\n"
                                   "[telegram]\n"
                                   "Enabled=0\n"
                                   "Token=\n"
                                   "Chat=\n";

} // namespace

class Notify_Window_Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Init_Resources(); }

    void ok_keeps_the_dialog_in_notify_ini_for_the_owner_alone() {
        Harness h;
        h.dir.Write("data/notify.ini", kSome_Settings);
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        w.Sampling_Timer().stop(); // the ticks come from the test
        h.camera->frames.push_back(test::Texture(1));
        w.TMR_Refresh_IMGTimer();
        // Right after "Detection...".
        const QStringList items = test::Picture_Menu_Items(w);
        QCOMPARE(items.indexOf("Notifications..."), items.indexOf("Detection...") + 1);
        test::Through_Menu<TF_Notify>(w, "Notifications...", [&](TF_Notify& dialog) {
            QCOMPARE(dialog.windowModality(), Qt::WindowModal);
            QCOMPARE(dialog.parentWidget(), &w.Window());
            QVERIFY(w.Notifications().Dialog() == &dialog);
            QVERIFY(dialog.Settings() == Notify_Settings::Parse(kSome_Settings));
            // It fits a small screen with the window's look on it.
            const QSize size = dialog.sizeHint().expandedTo(dialog.minimumSizeHint());
            QVERIFY2(size.width() <= 800 && size.height() <= 600,
                     qPrintable(QString("%1 x %2").arg(size.width()).arg(size.height())));
            // The test picture is the live one.
            QImage picture(QString::fromStdString(dialog.Write_Test_Picture()), "JPEG");
            QCOMPARE(picture.size(), w.Controller().Live_Frame().size());
            QVERIFY(!w.Controller().Live_Frame().isNull());

            Ui::F_Notify& form = dialog.Form();
            form.SPN_Cooldown->setValue(90);
            form.CKB_On_End->click();
            form.EDT_Ntfy_Token->setText("tk_secret");
            form.CKB_Webhook_Enabled->click();
            form.EDT_Webhook_Url->setText("https://hooks.example.org/v");
            form.CKB_Email_Enabled->click();
            form.EDT_Email_Server->setText("smtp.example.org");
            form.SPN_Email_Port->setValue(465);
            form.CBX_Email_Security->setCurrentIndex(1);
            form.EDT_Email_Login->setText("me");
            form.EDT_Email_Password->setText("pw=1;2");
            form.EDT_Email_From->setText("cam@example.org");
            form.EDT_Email_To->setText("me@example.org");
            form.EDT_Telegram_Token->setText("123:ABC");
            form.EDT_Telegram_Chat->setText("-100");
            form.BTN_Notify_Box->button(QDialogButtonBox::Ok)->click();
        });
        const std::string expected = "[notify]\n"
                                     "Cooldown_s=90\n"
                                     "On_End=1\n"
                                     "[ntfy]\n"
                                     "Enabled=1\n"
                                     "Server=https://ntfy.sh\n"
                                     "Topic=Zq81kPwe02LmnB7cXr4T\n"
                                     "Token=tk_secret\n"
                                     "[webhook]\n"
                                     "Enabled=1\n"
                                     "URL=https://hooks.example.org/v\n"
                                     "Token=\n"
                                     "[email]\n"
                                     "Enabled=1\n"
                                     "Server=smtp.example.org\n"
                                     "Port=465\n"
                                     "Security=tls\n"
                                     "Login=me\n"
                                     "Password=pw=1;2\n"
                                     "From=cam@example.org\n"
                                     "To=me@example.org\n"
                                     "[telegram]\n"
                                     "Enabled=0\n"
                                     "Token=123:ABC\n"
                                     "Chat=-100\n";
        QCOMPARE(QString::fromStdString(h.dir.Read("data/notify.ini")),
                 QString::fromStdString(expected));
        QCOMPARE(test::Mode_Of(h.Data() + "notify.ini"), mode_t(0600));
        QVERIFY(w.Notifications().Service().Settings() == Notify_Settings::Parse(expected));
        QVERIFY(w.Notifications().Dialog() == nullptr);
    }

    void cancel_changes_nothing() {
        Harness h;
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        test::Through_Menu<TF_Notify>(w, "Notifications...", [&](TF_Notify& dialog) {
            // A first dialog fills a topic in; Cancel keeps it nowhere.
            QCOMPARE(dialog.Settings().ntfy.topic.size(), size_t(20));
            dialog.Form().CKB_Ntfy_Enabled->click();
            dialog.Form().SPN_Cooldown->setValue(5);
            dialog.Form().BTN_Notify_Box->button(QDialogButtonBox::Cancel)->click();
        });
        QVERIFY(!std::filesystem::exists(h.Data() + "notify.ini"));
        QVERIFY(w.Notifications().Service().Settings() == Notify_Settings{});
    }

    void a_file_that_cannot_be_written_is_said_and_nothing_changes() {
        Harness h;
        h.dir.Write("data/notify.ini", kSome_Settings);
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
        QVERIFY(!w.Notifications().Apply(Notify_Settings{}));
        QVERIFY2(warned.startsWith("The notification settings could not be saved"),
                 qPrintable(warned));
        QVERIFY(w.Notifications().Service().Settings() == Notify_Settings::Parse(kSome_Settings));
    }

    // The end of the run answers the dialog with "no": its wait returns,
    // and nothing it shows is kept.
    void closing_the_program_closes_the_dialog() {
        Harness h;
        h.dir.Write("data/notify.ini", kSome_Settings);
        Vistrel_App& w = h.Create();
        w.Window().show();
        h.Activate();
        QSignalSpy closed(&w, &Vistrel_App::Closed);
        test::Through_Menu<TF_Notify>(w, "Notifications...", [&](TF_Notify& dialog) {
            dialog.Form().SPN_Cooldown->setValue(7);
            QTimer::singleShot(0, &w.Window(), [&w] { w.Window().close(); });
        });
        QCOMPARE(closed.count(), 1);
        QVERIFY(test::Open_Dialog<TF_Notify>() == nullptr);
        QVERIFY(w.Notifications().Dialog() == nullptr);
        QCOMPARE(h.dir.Read("data/notify.ini"), std::string(kSome_Settings));
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Notify_Window_Test)
#include "notify_window_test.moc"
