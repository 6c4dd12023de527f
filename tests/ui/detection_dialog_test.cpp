// The Detection dialog: areas drawn with the mouse on the live picture, the
// list and its Remove button, the limit of eight, the live level beside each
// watch area, and the settings it returns.
#include "ui/area_canvas.h"
#include "ui/detection_dialog.h"

#include "ui_UF_Detection.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <optional>
#include <vector>

namespace vistrel {

namespace {

using Area = Detection_Area;
constexpr Area_Kind kWatch = Area_Kind::Watch;
constexpr Area_Kind kIgnore = Area_Kind::Ignore;
constexpr Area_Kind kHide = Area_Kind::Hide;

// The areas `canvas` reports for a left-button drag from `from` to `to`.
std::vector<Area> Drag(Area_Canvas& canvas, QPoint from, QPoint to) {
    std::vector<Area> drawn;
    const QMetaObject::Connection told = QObject::connect(
        &canvas, &Area_Canvas::Area_Drawn, [&](const Area& area) { drawn.push_back(area); });
    QTest::mousePress(&canvas, Qt::LeftButton, {}, from);
    QTest::mouseMove(&canvas, (from + to) / 2);
    QTest::mouseMove(&canvas, to);
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, to);
    QObject::disconnect(told);
    return drawn;
}

// A drag over the middle of the dialog's picture, a quarter of it each way.
void Draw_In(TF_Detection& dialog) {
    Area_Canvas& canvas = *dialog.Form().CNV_Areas;
    const QRect picture = canvas.Picture().toRect();
    QTest::mousePress(&canvas, Qt::LeftButton, {},
                      picture.topLeft() + QPoint(picture.width() / 4, picture.height() / 4));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, picture.center());
}

QStringList List_Texts(TF_Detection& dialog) {
    QStringList texts;
    for (int row = 0; row < dialog.Form().LST_Areas->count(); ++row)
        texts << dialog.Form().LST_Areas->item(row)->text();
    return texts;
}

} // namespace

class Detection_Dialog_Test : public QObject {
    Q_OBJECT

private slots:
    // From the widget to the frame through the picture as shown: scaled
    // with its shape kept and centred, bars on the sides or above and below.
    void a_drag_becomes_the_area_under_it_in_ten_thousandths() {
        struct Case {
            const char* what;
            QSize widget;
            QSize frame; // empty: no frame yet, a 4:3 ground
            QPoint from, to;
            std::optional<Area> area;
        };
        const Case cases[] = {
            {"picture filling the widget",
             {400, 300},
             {640, 480},
             {40, 30},
             {200, 150},
             Area{kWatch, 1000, 1000, 4000, 4000}},
            {"dragged right to left, upwards",
             {400, 300},
             {640, 480},
             {200, 150},
             {40, 30},
             Area{kWatch, 1000, 1000, 4000, 4000}},
            {"released beyond the widget",
             {400, 300},
             {640, 480},
             {300, 200},
             {520, 410},
             Area{kWatch, 7500, 6667, 2500, 3333}},
            {"bars left and right",
             {800, 300},
             {640, 480},
             {250, 75},
             {350, 225},
             Area{kWatch, 1250, 2500, 2500, 5000}},
            {"started in the left bar",
             {800, 300},
             {640, 480},
             {100, 150},
             {300, 300},
             Area{kWatch, 0, 5000, 2500, 5000}},
            {"bars above and below",
             {400, 500},
             {640, 480},
             {100, 60},
             {300, 250},
             Area{kWatch, 2500, 0, 5000, 5000}},
            {"a wide frame",
             {400, 300},
             {640, 360},
             {100, 60},
             {300, 240},
             Area{kWatch, 2500, 1000, 5000, 8000}},
            {"no frame yet: 4:3",
             {800, 300},
             {},
             {250, 75},
             {350, 225},
             Area{kWatch, 1250, 2500, 2500, 5000}},
            {"a click", {400, 300}, {640, 480}, {100, 100}, {100, 100}, std::nullopt},
            {"too narrow", {400, 300}, {640, 480}, {100, 100}, {103, 200}, std::nullopt},
            {"too low", {400, 300}, {640, 480}, {100, 100}, {300, 102}, std::nullopt},
            {"all in the bar", {800, 300}, {640, 480}, {20, 20}, {180, 280}, std::nullopt},
        };
        for (const Case& c : cases) {
            Area_Canvas canvas;
            canvas.setMinimumSize(1, 1);
            canvas.resize(c.widget);
            canvas.show();
            QVERIFY(QTest::qWaitForWindowExposed(&canvas));
            if (!c.frame.isEmpty()) {
                QImage frame(c.frame, QImage::Format_RGB32);
                frame.fill(Qt::gray);
                canvas.Set_Frame(frame);
            }
            const std::vector<Area> drawn = Drag(canvas, c.from, c.to);
            QCOMPARE_LE(drawn.size(), size_t(1));
            QVERIFY2(drawn.empty() == !c.area, c.what);
            if (c.area)
                QVERIFY2(drawn.front() == *c.area,
                         qPrintable(QString("%1: %2").arg(c.what, Area_Text(drawn.front()))));
        }
    }

    void the_kind_drawn_is_the_one_chosen() {
        TF_Detection dialog(Detection_Settings{}, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.Form().RBN_Watch->isChecked());
        Draw_In(dialog);
        dialog.Form().RBN_Hide->click();
        Draw_In(dialog);
        dialog.Form().RBN_Ignore->click();
        Draw_In(dialog);
        std::vector<Area_Kind> kinds;
        for (const Area& area : dialog.Settings().areas)
            kinds.push_back(area.kind);
        QCOMPARE(kinds, (std::vector<Area_Kind>{kWatch, kHide, kIgnore}));
        QCOMPARE(dialog.Form().LST_Areas->count(), 3);
        QVERIFY(List_Texts(dialog)[1].startsWith("Hide "));
    }

    void no_more_than_eight_areas() {
        Detection_Settings seven;
        for (int32_t i = 0; i < 7; ++i)
            seven.areas.push_back({kIgnore, i * 1000, 0, 1000, 1000});
        TF_Detection dialog(seven, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QLabel* too_many = dialog.Form().LBL_Too_Many;
        QVERIFY(!too_many->isVisible());
        Draw_In(dialog);
        QCOMPARE(dialog.Settings().areas.size(), size_t(8));
        QVERIFY(too_many->isVisible());
        QCOMPARE(too_many->text(), QString("At most 8 areas."));
        const std::vector<Area> eight = dialog.Settings().areas;
        dialog.Form().RBN_Hide->click();
        Draw_In(dialog);
        QCOMPARE(dialog.Settings().areas, eight);
        QCOMPARE(dialog.Form().LST_Areas->count(), 8);
        dialog.Form().LST_Areas->setCurrentRow(0);
        dialog.Form().BTN_Remove->click();
        QVERIFY(!too_many->isVisible());
        Draw_In(dialog);
        QCOMPARE(dialog.Settings().areas.back().kind, kHide);
    }

    void remove_takes_the_selected_area_away() {
        Detection_Settings three;
        three.areas = {{kWatch, 1000, 500, 4000, 3000},
                       {kIgnore, 0, 0, 10000, 1500},
                       {kHide, 7500, 7500, 2500, 2500}};
        TF_Detection dialog(three, nullptr);
        dialog.show();
        Ui::F_Detection& form = dialog.Form();
        Area_Canvas& canvas = *form.CNV_Areas;
        QVERIFY(!form.BTN_Remove->isEnabled());
        QCOMPARE(canvas.Highlighted(), -1);
        form.LST_Areas->setCurrentRow(1);
        QVERIFY(form.BTN_Remove->isEnabled());
        QCOMPARE(canvas.Highlighted(), 1);
        form.LST_Areas->setCurrentRow(2);
        QCOMPARE(canvas.Highlighted(), 2);
        form.LST_Areas->setCurrentRow(1);
        form.BTN_Remove->click();
        QCOMPARE(dialog.Settings().areas, (std::vector<Area>{three.areas[0], three.areas[2]}));
        QCOMPARE(List_Texts(dialog),
                 (QStringList{"Watch 10 %, 5 % – 40 % × 30 %", "Hide 75 %, 75 % – 25 % × 25 %"}));
        QVERIFY(!form.BTN_Remove->isEnabled());
        QCOMPARE(canvas.Highlighted(), -1);
        form.LST_Areas->clearSelection();
        form.BTN_Remove->click();
        QCOMPARE(dialog.Settings().areas.size(), size_t(2));
    }

    void the_list_names_each_area_in_percent() {
        const std::pair<Area, QString> cases[] = {
            {{kWatch, 1000, 500, 4000, 3000}, "Watch 10 %, 5 % – 40 % × 30 %"},
            {{kIgnore, 0, 0, 10000, 10000}, "Ignore 0 %, 0 % – 100 % × 100 %"},
            {{kHide, 1234, 9950, 8766, 50}, "Hide 12.34 %, 99.5 % – 87.66 % × 0.5 %"},
        };
        for (const auto& [area, text] : cases)
            QCOMPARE(Area_Text(area), text);
    }

    void settings_come_back_as_given_and_as_changed() {
        Detection_Settings full;
        full.ignore_light = true;
        full.pre_capture = Detection_Settings::kMost_Pre_Capture;
        for (int32_t i = 0; i < 8; ++i)
            full.areas.push_back({i % 3 == 0   ? kWatch
                                  : i % 3 == 1 ? kIgnore
                                               : kHide,
                                  i * 1100, 9000 - i * 1000, 1000 + i, 1000 - i});
        Detection_Settings some;
        some.pre_capture = 7;
        some.areas = {{kHide, 0, 0, 10000, 10000}};
        for (const Detection_Settings& given : {Detection_Settings{}, full, some}) {
            TF_Detection dialog(given, nullptr);
            QCOMPARE(dialog.Settings(), given);
            QCOMPARE(dialog.Form().LST_Areas->count(), int(given.areas.size()));
            dialog.Form().CKB_Ignore_Light->click();
            dialog.Form().SPN_Pre_Capture->setValue(3);
            Detection_Settings changed = given;
            changed.ignore_light = !given.ignore_light;
            changed.pre_capture = 3;
            QCOMPARE(dialog.Settings(), changed);
        }
        TF_Detection dialog(Detection_Settings{}, nullptr);
        QCOMPARE(dialog.Form().SPN_Pre_Capture->maximum(), 25);
        QCOMPARE(dialog.Form().SPN_Pre_Capture->minimum(), 0);
    }

    // Each watch area's level beside it; the levels belong to the areas
    // measured, so one drawn or removed since takes no other area's level.
    void each_watch_area_shows_its_own_live_level() {
        Detection_Settings measured;
        const Area a{kWatch, 0, 0, 5000, 5000}, b{kWatch, 5000, 5000, 5000, 5000};
        measured.areas = {{kIgnore, 0, 0, 10000, 1000}, a, {kHide, 0, 9000, 1000, 1000}, b};
        TF_Detection dialog(measured, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        Area_Canvas& canvas = *dialog.Form().CNV_Areas;
        QVERIFY(canvas.Frame().isNull());
        QCOMPARE(canvas.Labels(), (std::vector<QString>(4)));

        QImage frame(320, 240, QImage::Format_RGB32);
        frame.fill(Qt::darkCyan);
        dialog.Show_Live(frame, Motion_Reading{12.34, {12.34, 0.5}});
        QCOMPARE(canvas.Frame(), frame);
        QCOMPARE(canvas.Labels(), (std::vector<QString>{"", "12.3 %", "", "0.5 %"}));
        // A failed grab keeps the picture; the levels still follow.
        dialog.Show_Live(QImage(), Motion_Reading{80.0, {80.0, 3.04}});
        QCOMPARE(canvas.Frame(), frame);
        QCOMPARE(canvas.Labels(), (std::vector<QString>{"", "80.0 %", "", "3.0 %"}));

        dialog.Form().LST_Areas->setCurrentRow(1);
        dialog.Form().BTN_Remove->click();
        Draw_In(dialog);
        dialog.Show_Live(frame, Motion_Reading{40.0, {7.0, 40.0}});
        QCOMPARE(canvas.Labels(), (std::vector<QString>{"", "", "40.0 %", ""}));
    }

    // On a scaled screen the frame reaches the screen's pixels as it is,
    // not blurred by a scaling to the widget's size first.
    void the_picture_is_drawn_at_the_screens_pixels() {
        Area_Canvas canvas;
        canvas.setMinimumSize(1, 1);
        canvas.resize(320, 240);
        canvas.show();
        QVERIFY(QTest::qWaitForWindowExposed(&canvas));
        const qreal ratio = canvas.devicePixelRatioF();
        QImage frame(QSize(320, 240) * ratio, QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 80));
        canvas.Set_Frame(frame);
        QImage shown = canvas.grab().toImage().convertToFormat(QImage::Format_RGB32);
        shown.setDevicePixelRatio(1.0); // compared pixel for pixel
        QCOMPARE(shown.size(), frame.size());
        QCOMPARE(shown, frame);
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Detection_Dialog_Test)
#include "detection_dialog_test.moc"
