// The main window's form as the form file builds it: names, kinds, captions,
// hints, initial values, places, tab order and the look's effects that the
// window's logic relies on.
#include "ui/folder_edit.h"
#include "ui_UF_Main.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>

// Outside any namespace: the macro declares the resource initialiser.
static void Init_Resources() {
    Q_INIT_RESOURCE(vistrel);
}

namespace {

struct Placed_Control {
    const char* name;
    const char* class_name;
    const char* parent;
    QRect geometry; // null: the place follows from the row rules instead
};

// Every control of the form with its kind and parent; places given by pixels
// where the window's layout fixes them.
const Placed_Control Controls[] = {
    {"PNL_Global", "QWidget", "F_Main", {}},
    {"IMG_WebCam", "QLabel", "PNL_Global", {6, 8, 280, 210}},
    {"IMG_New", "QLabel", "PNL_Global", {}},
    {"IMG_Old", "QLabel", "PNL_Global", {}},
    {"BTN_Start_Stop_Rec", "QToolButton", "PNL_Global", {6, 224, 90, 58}},
    {"BTN_Start_Stop_Rec_Detect", "QToolButton", "PNL_Global", {101, 224, 90, 58}},
    {"BTN_Stop", "QToolButton", "PNL_Global", {196, 224, 90, 58}},
    {"PNL_Before", "QFrame", "PNL_Global", {6, 288, 280, 143}},
    {"PNL_Status", "QLabel", "PNL_Before", {1, 1, 278, 18}},
    {"LBL_Detect", "QLabel", "PNL_Before", {3, 22, 107, 17}},
    {"PGB_Coef_Correl", "QProgressBar", "PNL_Before", {111, 22, 166, 17}},
    {"LBL_File", "QLabel", "PNL_Before", {3, 40, 107, 17}},
    {"PNL_Nom_File", "QLabel", "PNL_Before", {111, 40, 166, 17}},
    {"LBL_Folder", "QLabel", "PNL_Before", {3, 58, 107, 17}},
    {"PNL_Nom_Folder", "QLabel", "PNL_Before", {111, 58, 166, 17}},
    {"PNL_Rec", "QLabel", "PNL_Before", {3, 81, 274, 58}},
    {"PNL_IMG_Pre", "QLabel", "PNL_Rec", {1, 16, 272, 41}},
    {"IMG_Pre_1", "QLabel", "PNL_IMG_Pre", {5, 3, 35, 35}},
    {"IMG_Pre_2", "QLabel", "PNL_IMG_Pre", {43, 3, 35, 35}},
    {"IMG_Pre_3", "QLabel", "PNL_IMG_Pre", {81, 3, 35, 35}},
    {"IMG_Pre_4", "QLabel", "PNL_IMG_Pre", {119, 3, 35, 35}},
    {"IMG_Pre_5", "QLabel", "PNL_IMG_Pre", {157, 3, 35, 35}},
    {"IMG_Pre_6", "QLabel", "PNL_IMG_Pre", {195, 3, 35, 35}},
    {"IMG_Pre_7", "QLabel", "PNL_IMG_Pre", {233, 3, 35, 35}},
    {"PNL_FTP_Status_Main", "QFrame", "PNL_Global", {6, 437, 280, 59}},
    {"PNL_FTP_Status", "QLabel", "PNL_FTP_Status_Main", {1, 1, 278, 18}},
    {"LBL_FTP_Status", "QLabel", "PNL_FTP_Status_Main", {3, 21, 274, 17}},
    {"LBL_FTP_File", "QLabel", "PNL_FTP_Status_Main", {3, 39, 274, 17}},
    {"BTN_Update", "QToolButton", "PNL_Global", {5, 503, 185, 24}},
    {"BTN_Paypal", "QToolButton", "PNL_Global", {195, 503, 91, 52}},
    {"BTN_Site_Kesto", "QToolButton", "PNL_Global", {5, 531, 185, 24}},
    {"LBL_Update", "QLabel", "PNL_Global", {}},
    {"LBL_Paypal", "QLabel", "PNL_Global", {}},
    {"LBL_Site_Kesto", "QLabel", "PNL_Global", {}},
    {"GBX_Mode_Start", "QGroupBox", "PNL_Global", {292, 3, 280, 61}},
    {"RBT_Mode_Start_0", "QRadioButton", "GBX_Mode_Start", {}},
    {"LBL_Mode_Start_0", "QLabel", "GBX_Mode_Start", {}},
    {"RBT_Mode_Start_1", "QRadioButton", "GBX_Mode_Start", {}},
    {"LMDLabel2", "QLabel", "GBX_Mode_Start", {}},
    {"GBX_Rec_Launch", "QGroupBox", "PNL_Global", {292, 70, 280, 79}},
    {"RBT_Rec_Launch_0", "QRadioButton", "GBX_Rec_Launch", {}},
    {"LBL_Rec_Launch_0", "QLabel", "GBX_Rec_Launch", {}},
    {"RBT_Rec_Launch_1", "QRadioButton", "GBX_Rec_Launch", {}},
    {"LBL_Rec_Launch_1", "QLabel", "GBX_Rec_Launch", {}},
    {"RBT_Rec_Launch_2", "QRadioButton", "GBX_Rec_Launch", {}},
    {"LBL_Rec_Launch_2", "QLabel", "GBX_Rec_Launch", {}},
    {"GBX_Param", "QGroupBox", "PNL_Global", {292, 154, 280, 151}},
    {"EDT_Seuil_Detect", "QLineEdit", "GBX_Param", {}},
    {"LBL_Seuil_Detect", "QLabel", "GBX_Param", {}},
    {"CKB_Sensitivity_Dark", "QCheckBox", "GBX_Param", {}},
    {"LBL_Sensitivity_Dark", "QLabel", "GBX_Param", {}},
    {"EDT_Timer_Refresh", "QLineEdit", "GBX_Param", {}},
    {"LBL_Timer_Refresh", "QLabel", "GBX_Param", {}},
    {"EDT_Delay_Avant_Rec", "QLineEdit", "GBX_Param", {}},
    {"LBL_Delay_Avant_Rec", "QLabel", "GBX_Param", {}},
    {"EDT_Delay_Apres_Rec", "QLineEdit", "GBX_Param", {}},
    {"LBL_Delay_Apres_Rec", "QLabel", "GBX_Param", {}},
    {"CBX_JPEG_Size", "QComboBox", "GBX_Param", {}},
    {"LBL_JPG_Size", "QLabel", "GBX_Param", {}},
    {"CKB_Add_Time_Date", "QCheckBox", "GBX_Param", {}},
    {"LBL_Add_Time_Date", "QLabel", "GBX_Param", {}},
    {"RDG_Destination_Folder", "QGroupBox", "PNL_Global", {292, 309, 280, 95}},
    {"DED_Dest_Folder", "vistrel::TFolder_Edit", "RDG_Destination_Folder", {}},
    {"LBL_Dest_Folder", "QLabel", "RDG_Destination_Folder", {}},
    {"CKB_Use_Same_File_Name", "QCheckBox", "RDG_Destination_Folder", {}},
    {"LBL_Use_Same_File_Name", "QLabel", "RDG_Destination_Folder", {}},
    {"EDT_File_Name", "QLineEdit", "RDG_Destination_Folder", {}},
    {"LBL_File_Name", "QLabel", "RDG_Destination_Folder", {}},
    {"EDT_Nb_Max_File", "QLineEdit", "RDG_Destination_Folder", {}},
    {"LBL_Nb_Max_File", "QLabel", "RDG_Destination_Folder", {}},
    {"GBX_FTP_Connection", "QGroupBox", "PNL_Global", {292, 408, 280, 147}},
    {"CKB_Use_FTP", "QCheckBox", "GBX_FTP_Connection", {}},
    {"LBL_Use_FTP", "QLabel", "GBX_FTP_Connection", {}},
    {"EDT_FTP_Server_Name", "QLineEdit", "GBX_FTP_Connection", {}},
    {"LBL_FTP_Server_Name", "QLabel", "GBX_FTP_Connection", {}},
    {"EDT_FTP_Login", "QLineEdit", "GBX_FTP_Connection", {}},
    {"LBL_FTP_Login", "QLabel", "GBX_FTP_Connection", {}},
    {"EDT_FTP_Password", "QLineEdit", "GBX_FTP_Connection", {}},
    {"LBL_FTP_Password", "QLabel", "GBX_FTP_Connection", {}},
    {"BTN_FTP_Test", "QToolButton", "GBX_FTP_Connection", {80, 99, 129, 39}},
    {"STB_Main", "QStatusBar", "F_Main", {}},
    {"PNL_Status_Detect", "QFrame", "STB_Main", {}},
};

// Rows of the right-hand groups: a caption on the left, its control on the
// right, rows 17 pixels high every 18 pixels.
struct Row {
    const char* group;
    int index;
    const char* label;
    const char* control;
};

const Row Rows[] = {
    {"GBX_Mode_Start", 0, "LBL_Mode_Start_0", "RBT_Mode_Start_0"},
    {"GBX_Mode_Start", 1, "LMDLabel2", "RBT_Mode_Start_1"},
    {"GBX_Rec_Launch", 0, "LBL_Rec_Launch_0", "RBT_Rec_Launch_0"},
    {"GBX_Rec_Launch", 1, "LBL_Rec_Launch_1", "RBT_Rec_Launch_1"},
    {"GBX_Rec_Launch", 2, "LBL_Rec_Launch_2", "RBT_Rec_Launch_2"},
    {"GBX_Param", 0, "LBL_Seuil_Detect", "EDT_Seuil_Detect"},
    {"GBX_Param", 1, "LBL_Sensitivity_Dark", "CKB_Sensitivity_Dark"},
    {"GBX_Param", 2, "LBL_Timer_Refresh", "EDT_Timer_Refresh"},
    {"GBX_Param", 3, "LBL_Delay_Avant_Rec", "EDT_Delay_Avant_Rec"},
    {"GBX_Param", 4, "LBL_Delay_Apres_Rec", "EDT_Delay_Apres_Rec"},
    {"GBX_Param", 5, "LBL_JPG_Size", "CBX_JPEG_Size"},
    {"GBX_Param", 6, "LBL_Add_Time_Date", "CKB_Add_Time_Date"},
    {"RDG_Destination_Folder", 0, "LBL_Dest_Folder", "DED_Dest_Folder"},
    {"RDG_Destination_Folder", 1, "LBL_Use_Same_File_Name", "CKB_Use_Same_File_Name"},
    {"RDG_Destination_Folder", 2, "LBL_File_Name", "EDT_File_Name"},
    {"RDG_Destination_Folder", 3, "LBL_Nb_Max_File", "EDT_Nb_Max_File"},
    {"GBX_FTP_Connection", 0, "LBL_Use_FTP", "CKB_Use_FTP"},
    {"GBX_FTP_Connection", 1, "LBL_FTP_Server_Name", "EDT_FTP_Server_Name"},
    {"GBX_FTP_Connection", 2, "LBL_FTP_Login", "EDT_FTP_Login"},
    {"GBX_FTP_Connection", 3, "LBL_FTP_Password", "EDT_FTP_Password"},
};

struct Caption {
    const char* name;
    QString text;
};

const Caption Captions[] = {
    {"F_Main", "Vistrel"},
    {"BTN_Start_Stop_Rec", "Rec"},
    {"BTN_Start_Stop_Rec_Detect", "Rec\nmotion"},
    {"BTN_Stop", "Stop"},
    {"PNL_Status", "Recording status ..."},
    {"LBL_Detect", " Motion detection [%] :"},
    {"LBL_File", " File name :"},
    {"PNL_Nom_File", "no JPG"},
    {"LBL_Folder", " Folder name :"},
    {"PNL_Nom_Folder", "\\\\"},
    {"PNL_Rec", "Recording stopped"},
    {"PNL_IMG_Pre", "No pictures are recording ..."},
    {"PNL_FTP_Status", "FTP status ..."},
    {"LBL_FTP_Status", "no status available ..."},
    {"LBL_FTP_File", QString(67, QLatin1Char('*'))},
    {"BTN_Update", "Get the latest version here ..."},
    {"BTN_Paypal", ""},
    {"LBL_Update", "Get the latest version here ..."},
    {"LBL_Paypal", "Donate Paypal"},
    {"GBX_Mode_Start", "Launch mode"},
    {"GBX_Rec_Launch", "Record at launch"},
    {"GBX_Param", "Parameters"},
    {"RDG_Destination_Folder", "Destination folder"},
    {"GBX_FTP_Connection", "FTP connection"},
    {"LBL_Mode_Start_0", "  Normal launch mode"},
    {"LMDLabel2", "  Minimized launch mode"},
    {"LBL_Rec_Launch_0", "  no record at launch"},
    {"LBL_Rec_Launch_1", "  start record immediatly"},
    {"LBL_Rec_Launch_2", "  start record after motion detection"},
    {"LBL_Seuil_Detect", " Detection threshold [%]"},
    {"LBL_Sensitivity_Dark", " Reduce sensitivity for darkness"},
    {"LBL_Timer_Refresh", " Sampling time [ms]"},
    {"LBL_Delay_Avant_Rec", " Delay before start recording [s]"},
    {"LBL_Delay_Apres_Rec", " Delay before stop recording [s]"},
    {"LBL_JPG_Size", " JPEG size"},
    {"LBL_Add_Time_Date", " Add date and time on the picture : "},
    {"LBL_Dest_Folder", " Folder :"},
    {"LBL_Use_Same_File_Name", " Save to unique file name :"},
    {"LBL_File_Name", " File name : "},
    {"LBL_Nb_Max_File", " Maximum file quantity within one folder : "},
    {"LBL_Use_FTP", " Send files to FTP server"},
    {"LBL_FTP_Server_Name", " FTP Server Name :"},
    {"LBL_FTP_Login", " User Name :"},
    {"LBL_FTP_Password", " Password :"},
    {"BTN_FTP_Test", "Test FTP \nconnection..."},
    // The radio buttons and check boxes carry no text: their labels do.
    {"RBT_Mode_Start_0", ""},
    {"RBT_Mode_Start_1", ""},
    {"RBT_Rec_Launch_0", ""},
    {"RBT_Rec_Launch_1", ""},
    {"RBT_Rec_Launch_2", ""},
    {"CKB_Sensitivity_Dark", ""},
    {"CKB_Add_Time_Date", ""},
    {"CKB_Use_Same_File_Name", ""},
    {"CKB_Use_FTP", ""},
    // Values shown until the settings are loaded.
    {"EDT_Seuil_Detect", "0"},
    {"EDT_Timer_Refresh", "0"},
    {"EDT_Delay_Avant_Rec", "0"},
    {"EDT_Delay_Apres_Rec", "0"},
    {"EDT_File_Name", "Img_"},
    {"EDT_Nb_Max_File", "32000"},
    {"EDT_FTP_Server_Name", ""},
    {"EDT_FTP_Login", ""},
    {"EDT_FTP_Password", ""},
    {"DED_Dest_Folder", ""},
    {"IMG_WebCam", ""},
    {"MNI_Minimize", "Minimize"},
    {"MNI_Restore", "Restore"},
    {"MNI_Exit", "Exit"},
};

struct Hint {
    const char* name;
    const char* tip;
};

const Hint Hints[] = {
    {"BTN_Start_Stop_Rec", "Start record immediatly"},
    {"BTN_Start_Stop_Rec_Detect", "Start record after motion detection"},
    {"BTN_Stop", "Stop record"},
    {"BTN_FTP_Test", ""},
    {"BTN_Update", ""},
    {"BTN_Paypal", ""},
    {"BTN_Site_Kesto", ""},
};

const char* const Hidden_Names[] = {"IMG_New", "IMG_Old", "LBL_Update", "LBL_Paypal",
                                    "LBL_Site_Kesto"};
const char* const Disabled_Names[] = {"EDT_File_Name", "LBL_File_Name"};

const char* const Buttons_With_Pictures[] = {"BTN_Start_Stop_Rec", "BTN_Start_Stop_Rec_Detect",
                                             "BTN_Stop", "BTN_FTP_Test", "BTN_Paypal"};
const char* const Link_Buttons[] = {"BTN_Update", "BTN_Site_Kesto"};

std::optional<QString> Text_Of(const QObject* object) {
    if (const auto* label = qobject_cast<const QLabel*>(object))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(object))
        return button->text();
    if (const auto* edit = qobject_cast<const QLineEdit*>(object))
        return edit->text();
    if (const auto* group = qobject_cast<const QGroupBox*>(object))
        return group->title();
    if (const auto* folder = qobject_cast<const vistrel::TFolder_Edit*>(object))
        return folder->path();
    if (const auto* action = qobject_cast<const QAction*>(object))
        return action->text();
    if (const auto* window = qobject_cast<const QMainWindow*>(object))
        return window->windowTitle();
    return std::nullopt;
}

QString Load_Style_Sheet() {
    QFile file(QStringLiteral(":/vistrel/vistrel.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll());
}

QColor Colour_At_Centre(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace

class Main_Form_Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Init_Resources(); }

    void init() {
        window_ = std::make_unique<QMainWindow>();
        ui_.setupUi(window_.get());
    }

    void cleanup() { window_.reset(); }

    void controlsHaveTheirKindParentAndPlace_data() {
        QTest::addColumn<QByteArray>("class_name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        for (const Placed_Control& control : Controls)
            QTest::newRow(control.name) << QByteArray(control.class_name)
                                        << QString::fromLatin1(control.parent) << control.geometry;
    }

    void controlsHaveTheirKindParentAndPlace() {
        QFETCH(QByteArray, class_name);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        const QString name = QString::fromLatin1(QTest::currentDataTag());

        const QList<QWidget*> found = window_->findChildren<QWidget*>(name);
        QCOMPARE(found.size(), 1);
        QWidget* widget = found.front();
        QCOMPARE(QByteArray(widget->metaObject()->className()), class_name);
        QVERIFY(widget->parentWidget() != nullptr);
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        if (!geometry.isNull())
            QCOMPARE(widget->geometry(), geometry);
    }

    void rowsPairCaptionAndControl_data() {
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("control");
        for (const Row& row : Rows)
            QTest::newRow(row.control)
                << QString::fromLatin1(row.group) << row.index << QString::fromLatin1(row.label)
                << QString::fromLatin1(row.control);
    }

    void rowsPairCaptionAndControl() {
        QFETCH(QString, group);
        QFETCH(int, index);
        QFETCH(QString, label);
        QFETCH(QString, control);

        auto* box = window_->findChild<QGroupBox*>(group);
        auto* caption = window_->findChild<QLabel*>(label);
        auto* input = window_->findChild<QWidget*>(control);
        QVERIFY(box && caption && input);
        QCOMPARE(caption->parentWidget(), box);
        QCOMPARE(input->parentWidget(), box);

        const QRect left = caption->geometry();
        const QRect right = input->geometry();
        // The first row sits under the title, at the same height in every group.
        QCOMPARE(left.top(), 19 + 18 * index);
        QCOMPARE(right.top(), left.top());
        QCOMPARE(left.height(), 17);
        QCOMPARE(right.height(), 17);
        QVERIFY2(left.right() < right.left(), "the caption sits left of its control");
        QVERIFY2(left.left() > 0 && right.right() < box->width() - 1,
                 "the row stays inside the group's frame");
        QVERIFY2(right.bottom() < box->height() - 1, "the row stays inside the group's frame");
        // The caption names its control, for assistive tools and mnemonics.
        QCOMPARE(caption->buddy(), input);
    }

    void captionsAndValues_data() {
        QTest::addColumn<QString>("text");
        for (const Caption& caption : Captions)
            QTest::newRow(caption.name) << caption.text;
    }

    void captionsAndValues() {
        QFETCH(QString, text);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        const QObject* object =
            name == QLatin1String("F_Main") ? window_.get() : window_->findChild<QObject*>(name);
        QVERIFY2(object != nullptr, qPrintable(name));
        const std::optional<QString> shown = Text_Of(object);
        QVERIFY2(shown.has_value(), "the object shows a text");
        QCOMPARE(*shown, text);
    }

    void siteButtonInvitesToTheMakersSoftware() {
        // Its wording is free; it must say something and lead somewhere.
        QVERIFY(!ui_.BTN_Site_Kesto->text().trimmed().isEmpty());
        QVERIFY(!ui_.LBL_Site_Kesto->text().trimmed().isEmpty());
    }

    void hints_data() {
        QTest::addColumn<QString>("tip");
        for (const Hint& hint : Hints)
            QTest::newRow(hint.name) << QString::fromLatin1(hint.tip);
    }

    void hints() {
        QFETCH(QString, tip);
        auto* widget = window_->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->toolTip(), tip);
    }

    void hiddenAndDisabledControls_data() {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("enabled");
        for (const Placed_Control& control : Controls) {
            const bool hidden = std::find_if(std::begin(Hidden_Names), std::end(Hidden_Names),
                                             [&](const char* name) {
                                                 return qstrcmp(name, control.name) == 0;
                                             }) != std::end(Hidden_Names);
            const bool disabled = std::find_if(std::begin(Disabled_Names), std::end(Disabled_Names),
                                               [&](const char* name) {
                                                   return qstrcmp(name, control.name) == 0;
                                               }) != std::end(Disabled_Names);
            QTest::newRow(control.name) << !hidden << !disabled;
        }
    }

    void hiddenAndDisabledControls() {
        QFETCH(bool, shown);
        QFETCH(bool, enabled);
        auto* widget = window_->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(widget != nullptr);
        window_->show();
        QCOMPARE(widget->isVisible(), shown);
        QCOMPARE(widget->isEnabled(), enabled);
    }

    void checkablesStartUnchecked() {
        const QList<QAbstractButton*> buttons = window_->findChildren<QAbstractButton*>();
        int checkables = 0;
        for (QAbstractButton* button : buttons) {
            if (!qobject_cast<QRadioButton*>(button) && !qobject_cast<QCheckBox*>(button))
                continue;
            ++checkables;
            QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
        }
        QCOMPARE(checkables, 9);
    }

    void picturesSize() {
        QCOMPARE(ui_.CBX_JPEG_Size->count(), 5);
        const QStringList expected = {"640x480", "320x240", "160x120", "80x60", "40x30"};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(ui_.CBX_JPEG_Size->itemText(i), expected[i]);
        QCOMPARE(ui_.CBX_JPEG_Size->maxVisibleItems(), 5);
        QCOMPARE(ui_.CBX_JPEG_Size->currentIndex(), -1);
        QVERIFY(ui_.CBX_JPEG_Size->currentText().isEmpty());
        QVERIFY(!ui_.CBX_JPEG_Size->isEditable());
    }

    void motionMeasureShowsAPercentage_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << -1 << QString();
        QTest::newRow("zero") << 0 << QStringLiteral("0%");
        QTest::newRow("some") << 37 << QStringLiteral("37%");
        QTest::newRow("full") << 100 << QStringLiteral("100%");
    }

    void motionMeasureShowsAPercentage() {
        QFETCH(int, value);
        QFETCH(QString, text);
        QProgressBar* bar = ui_.PGB_Coef_Correl;
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QVERIFY(bar->isTextVisible());
        QCOMPARE(bar->value(), 0);
        if (value >= 0) {
            bar->setValue(value);
            QCOMPARE(bar->text(), text);
        }
    }

    void onlyThePasswordIsMasked() {
        for (QLineEdit* edit : window_->findChildren<QLineEdit*>()) {
            const bool is_password = edit == ui_.EDT_FTP_Password;
            QCOMPARE(edit->echoMode(), is_password ? QLineEdit::Password : QLineEdit::Normal);
        }
    }

    void passwordShowsOneStarPerCharacter() {
        window_->setStyleSheet(Load_Style_Sheet());
        window_->show();
        QTest::keyClicks(ui_.EDT_FTP_Password, QStringLiteral("s3cr"));
        QCOMPARE(ui_.EDT_FTP_Password->text(), QStringLiteral("s3cr"));
        QCOMPARE(ui_.EDT_FTP_Password->displayText(), QStringLiteral("****"));
    }

    void radioButtonsExcludeEachOtherWithinTheirGroup_data() {
        QTest::addColumn<QStringList>("group");
        QTest::addColumn<QStringList>("others");
        const QStringList mode = {"RBT_Mode_Start_0", "RBT_Mode_Start_1"};
        const QStringList launch = {"RBT_Rec_Launch_0", "RBT_Rec_Launch_1", "RBT_Rec_Launch_2"};
        QTest::newRow("launch mode") << mode << launch;
        QTest::newRow("record at launch") << launch << mode;
    }

    void radioButtonsExcludeEachOtherWithinTheirGroup() {
        QFETCH(QStringList, group);
        QFETCH(QStringList, others);
        window_->show();
        // A choice in the other group must survive every click in this one.
        auto* other = window_->findChild<QRadioButton*>(others.last());
        QVERIFY(other != nullptr);
        QTest::mouseClick(other, Qt::LeftButton);
        QVERIFY(other->isChecked());

        for (const QString& chosen : group) {
            auto* button = window_->findChild<QRadioButton*>(chosen);
            QVERIFY(button != nullptr);
            QTest::mouseClick(button, Qt::LeftButton);
            for (const QString& name : group)
                QCOMPARE(window_->findChild<QRadioButton*>(name)->isChecked(), name == chosen);
            QVERIFY(other->isChecked());
        }
    }

    void parametersTabOrder() {
        const QStringList expected = {"EDT_Seuil_Detect",    "EDT_Timer_Refresh",
                                      "EDT_Delay_Avant_Rec", "EDT_Delay_Apres_Rec",
                                      "CKB_Add_Time_Date",   "CKB_Sensitivity_Dark",
                                      "CBX_JPEG_Size"};
        QGroupBox* group = ui_.GBX_Param;

        // The focus chain, as QWidget::setTabOrder left it.
        QStringList chain;
        QWidget* widget = ui_.EDT_Seuil_Detect;
        int guard = 0;
        do {
            if (group->isAncestorOf(widget) &&
                (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus)
                chain << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != ui_.EDT_Seuil_Detect && ++guard < 1000);
        QCOMPARE(chain, expected);

        // And as the user meets it with the Tab key.
        window_->show();
        QApplication::setActiveWindow(window_.get());
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        ui_.EDT_Seuil_Detect->setFocus(Qt::TabFocusReason);
        QStringList visited = {QApplication::focusWidget()->objectName()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
        // Tab then leaves the group for the destination folder's text.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(!group->isAncestorOf(QApplication::focusWidget()));
        QVERIFY(ui_.DED_Dest_Folder->isAncestorOf(QApplication::focusWidget()));
    }

    void windowFontAndClientArea() {
        QCOMPARE(window_->font().family(), QStringLiteral("Arial"));
        QCOMPARE(window_->font().pointSize(), 8);
        QCOMPARE(window_->centralWidget(), ui_.PNL_Global);
        QCOMPARE(window_->statusBar(), ui_.STB_Main);
        QVERIFY(!window_->windowIcon().isNull());

        window_->show();
        QCOMPARE(window_->size(), QSize(579, 581));
        QCOMPARE(ui_.STB_Main->geometry(), QRect(0, 562, 579, 19));
        QCOMPARE(ui_.PNL_Global->geometry(), QRect(0, 0, 579, 562));
        // Every visible control fits the client area above the status bar.
        for (QWidget* child : ui_.PNL_Global->findChildren<QWidget*>()) {
            if (child->isVisible())
                QVERIFY2(ui_.PNL_Global->rect().contains(
                             QRect(child->mapTo(ui_.PNL_Global, QPoint(0, 0)), child->size())),
                         qPrintable(child->objectName()));
        }
    }

    void windowRefusesToShrink_data() {
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<QSize>("got");
        QTest::newRow("tiny") << QSize(100, 100) << QSize(579, 581);
        QTest::newRow("one pixel narrower") << QSize(578, 581) << QSize(579, 581);
        QTest::newRow("one pixel lower") << QSize(579, 580) << QSize(579, 581);
        QTest::newRow("narrow but tall") << QSize(300, 700) << QSize(579, 700);
        QTest::newRow("larger") << QSize(800, 650) << QSize(800, 650);
    }

    void windowRefusesToShrink() {
        QFETCH(QSize, asked);
        QFETCH(QSize, got);
        window_->show();
        window_->resize(asked);
        QCOMPARE(window_->size(), got);
    }

    void buttonsAreFlatWithAHandCursor_data() {
        QTest::addColumn<bool>("picture");
        QTest::addColumn<bool>("link");
        for (const char* name : Buttons_With_Pictures)
            QTest::newRow(name) << true << false;
        for (const char* name : Link_Buttons)
            QTest::newRow(name) << false << true;
    }

    void buttonsAreFlatWithAHandCursor() {
        QFETCH(bool, picture);
        QFETCH(bool, link);
        auto* button =
            window_->findChild<QToolButton*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(button != nullptr);
        QVERIFY(button->autoRaise());
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
        if (picture) {
            // Drawing the picture needs the resource and the SVG icon engine.
            const QPixmap pixmap = button->icon().pixmap(button->iconSize());
            QVERIFY(!pixmap.isNull());
            QVERIFY(!pixmap.toImage().allGray() || button == ui_.BTN_Stop);
            QVERIFY(button->toolButtonStyle() != Qt::ToolButtonTextOnly);
        }
        if (link)
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextOnly);
    }

    void picturesScaleIntoTheirBoxes() {
        QCOMPARE(ui_.IMG_WebCam->alignment(), Qt::AlignCenter);
        const QList<QLabel*> previews = {ui_.IMG_Pre_1, ui_.IMG_Pre_2, ui_.IMG_Pre_3, ui_.IMG_Pre_4,
                                         ui_.IMG_Pre_5, ui_.IMG_Pre_6, ui_.IMG_Pre_7};
        for (QLabel* preview : previews) {
            QVERIFY2(preview->hasScaledContents(), qPrintable(preview->objectName()));
            QVERIFY(preview->pixmap().isNull());
        }
        QCOMPARE(ui_.PNL_Rec->alignment(), Qt::AlignHCenter | Qt::AlignTop);
    }

    void styleSheetLoadsWithoutComplaint() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        const QString sheet = Load_Style_Sheet();
        QVERIFY(sheet.contains(QLatin1String("#PNL_Global")));
        window_->setStyleSheet(sheet);
        window_->show();
        QVERIFY(!window_->grab().isNull());
    }

    void indicatorsTakeTheirColourFromThePalette_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("initial");
        QTest::newRow("recording") << QStringLiteral("PNL_Rec") << QColor(Qt::white);
        QTest::newRow("detection") << QStringLiteral("PNL_Status_Detect") << QColor(Qt::red);
    }

    void indicatorsTakeTheirColourFromThePalette() {
        QFETCH(QString, name);
        QFETCH(QColor, initial);
        window_->setStyleSheet(Load_Style_Sheet());
        window_->show();
        auto* widget = window_->findChild<QWidget*>(name);
        QVERIFY(widget != nullptr);
        QVERIFY(widget->autoFillBackground());
        QCOMPARE(widget->palette().color(QPalette::Window), initial);

        // PNL_Rec's middle is covered by the preview strip: look above it.
        const auto sample = [&] {
            const QImage image = widget->grab().toImage();
            return widget == ui_.PNL_Rec ? image.pixelColor(6, 8) : Colour_At_Centre(widget);
        };
        QCOMPARE(sample(), initial);
        // The window changes the colour at every tick; the style sheet must
        // not hide the change.
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, QColor(0, 255, 0));
        widget->setPalette(palette);
        QCOMPARE(sample(), QColor(0, 255, 0));
    }

    void folderEditKeepsThePathAsText() {
        vistrel::TFolder_Edit* folder = ui_.DED_Dest_Folder;
        QSignalSpy changed(folder, &vistrel::TFolder_Edit::pathChanged);
        folder->setPath(QStringLiteral("c:\\"));
        QCOMPARE(folder->path(), QStringLiteral("c:\\"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("c:\\"));
        folder->setPath(QStringLiteral("c:\\"));
        QCOMPARE(changed.count(), 1);

        window_->show();
        QTest::keyClicks(folder->lineEdit(), QStringLiteral("x"));
        QCOMPARE(folder->path(), QStringLiteral("c:\\x"));
        QCOMPARE(changed.count(), 2);
    }

    void folderEditBrowses_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("path");
        const QString existing = QDir::tempPath();
        QTest::newRow("chosen") << existing << QStringLiteral("/srv/pictures") << existing
                                << QStringLiteral("/srv/pictures");
        QTest::newRow("cancelled") << existing << QString() << existing << existing;
        QTest::newRow("foreign start") << QStringLiteral("c:\\") << QStringLiteral("/srv/pictures")
                                       << QDir::homePath() << QStringLiteral("/srv/pictures");
    }

    void folderEditBrowses() {
        QFETCH(QString, start);
        QFETCH(QString, answer);
        QFETCH(QString, offered);
        QFETCH(QString, path);
        vistrel::TFolder_Edit* folder = ui_.DED_Dest_Folder;
        folder->setPath(start);
        QString asked_with;
        folder->setFolderChooser([&](QWidget*, const QString& from) {
            asked_with = from;
            return answer;
        });
        QSignalSpy changed(folder, &vistrel::TFolder_Edit::pathChanged);
        window_->show();
        QTest::mouseClick(folder->browseButton(), Qt::LeftButton);
        QCOMPARE(asked_with, offered);
        QCOMPARE(folder->path(), path);
        QCOMPARE(changed.count(), path == start ? 0 : 1);
    }

private:
    std::unique_ptr<QMainWindow> window_;
    Ui::F_Main ui_;
};

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    Main_Form_Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_form_test.moc"
