// The Storage dialog: a target the disk cannot hold is refused there, in
// words, and the keeper's latest words show beside the setting.
#include "ui/storage_dialog.h"

#include "ui_UF_Storage.h"

#include <QApplication>
#include <QPushButton>
#include <QtTest>

#include <optional>
#include <string>

namespace vistrel {

class Storage_Dialog_Test : public QObject {
    Q_OBJECT

private slots:
    void refuses_a_target_above_half_the_disk_and_says_so() {
        struct Case {
            const char* what;
            bool keep;
            double gigabytes;
            std::optional<uint64_t> disk;
            bool accepted;
        };
        const Case cases[] = {
            {"half of an 8 GB card", true, 4.0, 8000000000, true},
            {"a little more than half", true, 4.1, 8000000000, false},
            {"20 GB of an 8 GB card", true, 20.0, 8000000000, false},
            {"the largest the box takes", true, 1000000.0, 8000000000, false},
            {"too much, but keeping is off", false, 20.0, 8000000000, true},
            {"a disk of unknown size", true, 20.0, std::nullopt, true},
        };
        for (const Case& c : cases) {
            Storage_Settings settings;
            settings.keep_free = c.keep;
            settings.keep_free_gb = c.gigabytes;
            TF_Storage dialog(settings, nullptr, c.disk);
            dialog.show();
            QLabel* problem = dialog.Form().LBL_Keep_Free_Problem;
            QVERIFY2(problem->isVisible() == !c.accepted, c.what);
            dialog.Form().BTN_Storage_Box->button(QDialogButtonBox::Ok)->click();
            QVERIFY2((dialog.result() == QDialog::Accepted) == c.accepted, c.what);
            QVERIFY2(dialog.isVisible() == !c.accepted, c.what);
            if (!c.accepted)
                QCOMPARE(problem->text(),
                         QString("The disk of the destination folder holds 8.0 GB in all. Vistrel "
                                 "keeps at most half of a disk free: choose 4.0 GB or less."));
        }
    }

    void the_refusal_follows_the_value_typed() {
        Storage_Settings settings;
        settings.keep_free = true;
        settings.keep_free_gb = 2.0;
        TF_Storage dialog(settings, nullptr, uint64_t(8000000000));
        dialog.show();
        QLabel* problem = dialog.Form().LBL_Keep_Free_Problem;
        QVERIFY(!problem->isVisible());
        dialog.Form().EDT_Keep_Free_GB->setValue(6.0);
        QVERIFY(problem->isVisible());
        dialog.Form().CKB_Keep_Free->setChecked(false);
        QVERIFY(!problem->isVisible());
        dialog.Form().CKB_Keep_Free->setChecked(true);
        QVERIFY(problem->isVisible());
        dialog.Form().EDT_Keep_Free_GB->setValue(3.5);
        QVERIFY(!problem->isVisible());
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Settings().keep_free_gb, 3.5);
    }

    void shows_what_the_keeper_last_said_while_open() {
        std::string said;
        TF_Storage dialog(Storage_Settings{}, nullptr, std::nullopt, [&] { return said; });
        dialog.show();
        QLabel* status = dialog.Form().LBL_Keeper_Status;
        QVERIFY(!status->isVisible());
        said = "Another Vistrel keeps free space in /media/cam/; this one deletes nothing.";
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString::fromStdString(said), 5000);
        QVERIFY(status->isVisible());
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Storage_Dialog_Test)
#include "storage_dialog_test.moc"
