// The Episodes window over a destination tree the tests write: days and
// episodes listed newest first with their rows, the viewer stepped and
// played, deletion with its questions, the episode being recorded, and the
// export's destination.
#include "episodes/episode_tree.h"
#include "recording/picture_names.h"
#include "ui/episode_player.h"
#include "ui/episode_rows.h"
#include "ui/episodes_window.h"
#include "ui/picture_canvas.h"
#include "upload/upload_list.h"

#include "ui_UF_Episodes.h"

#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <deque>
#include <fstream>

namespace vistrel {

namespace {

const std::string kDay = "RIDEV_2026_12_10";
const std::string kEarlier_Day = "RIDEV_2026_12_09";

// D0004: 3 pictures at 10:05:00, 2 at 10:05:01, 1 at 10:05:02.
const std::vector<std::string> kD4 = {"I_10_05_00__00010.jpg", "I_10_05_00__00011.jpg",
                                      "I_10_05_00__00012.jpg", "I_10_05_01__00013.jpg",
                                      "I_10_05_01__00014.jpg", "I_10_05_02__00015.jpg"};

struct Tree {
    test::Episode_Tree tree;
    test::Temp_Dir outside; // not under the destination
    Upload_List queue;

    // A small picture whose grey level tells which one it is.
    void Picture(const std::string& folder, const std::string& name, int level,
                 QSize size = {64, 48}) const {
        tree.Folder(folder);
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor(level, level, level));
        QVERIFY(image.save(QString::fromStdString(tree.Path(folder + "/" + name)), "JPEG", 95));
    }
    std::string Episode(const std::string& day, const std::string& episode) const {
        return tree.Path(day + "/" + episode);
    }
    void Queue(const std::string& day, const std::string& episode, const std::string& name) {
        queue.Append(
            TFichier{Episode(day, episode) + "/" + name, name, day + "/" + episode + "/", false});
    }

    Tree() {
        Picture(kEarlier_Day + "/D0001", "I_23_00_00__00001.jpg", 10);
        Picture(kDay + "/D0003", "I_09_00_00__00001.jpg", 20);
        Picture(kDay + "/D0003", "I_09_00_04__00002.jpg", 30);
        for (int i = 0; i < 4; ++i)
            Picture(kDay + "/R0001",
                    "I_09_30_0" + std::to_string(i) + "__0000" + std::to_string(i) + ".jpg", 40);
        for (size_t i = 0; i < kD4.size(); ++i)
            Picture(kDay + "/D0004", kD4[i], int(40 * i));
        tree.Files(kDay + "/D0004", {"notes.txt"}); // the user's own
        tree.Folder("holiday");                     // not a day folder
        tree.Changed_At(kDay + "/D0003", 1000);
        tree.Changed_At(kDay + "/R0001", 2000);
        tree.Changed_At(kDay + "/D0004", 3000);
        // A refused picture of D0003.
        std::ofstream(outside.File("upload_refused"))
            << Episode(kDay, "D0003") + "/I_09_00_00__00001.jpg\n";
    }
};

struct World {
    std::vector<QString> questions;
    std::deque<bool> answers;
    std::vector<QString> told;
    std::vector<QUrl> opened;
    QString save_path;
    QString suggested;
    std::string recording;
    std::vector<std::vector<std::string>> thumbnails_asked;
};

class Fake_Export : public Running_Export {
public:
    explicit Fake_Export(bool* cancelled) : cancelled_(cancelled) {}
    void Cancel() override { *cancelled_ = true; }

private:
    bool* cancelled_;
};

struct Export_Seen {
    std::vector<Export_Request> requests;
    Export_Callbacks callbacks;
    bool cancelled = false;
};

Episodes_Hooks Hooks(Tree& t, World& world, Export_Seen* exports = nullptr) {
    Episodes_Hooks h;
    h.dest_folder = t.tree.Dest();
    h.queue = &t.queue;
    h.refused_file = t.outside.File("upload_refused");
    h.current_episode = [&world] { return world.recording; };
    h.open_url = [&world](const QUrl& url) { world.opened.push_back(url); };
    h.ask_save_path = [&world](const QString& suggested) {
        world.suggested = suggested;
        return world.save_path;
    };
    h.confirm = [&world](const QString& question) {
        world.questions.push_back(question);
        if (world.answers.empty())
            return false;
        const bool answer = world.answers.front();
        world.answers.pop_front();
        return answer;
    };
    h.tell = [&world](const QString& message) { world.told.push_back(message); };
    h.request_thumbnails = [&world](const std::vector<std::string>& paths) {
        world.thumbnails_asked.push_back(paths);
    };
    if (exports)
        h.run_export = [exports](Export_Request request, Export_Callbacks callbacks) {
            exports->requests.push_back(request);
            exports->callbacks = std::move(callbacks);
            return std::make_unique<Fake_Export>(&exports->cancelled);
        };
    return h;
}

QStringList Texts(const QListWidget& list) {
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.item(i)->text();
    return texts;
}

int Row_Named(TF_Episodes& w, const std::string& episode) {
    for (int i = 0; i < w.Rows().rowCount(); ++i)
        if (w.Rows().Row(i).entry.folder_name == episode)
            return i;
    return -1;
}

void Choose(TF_Episodes& w, const std::string& episode) {
    const int row = Row_Named(w, episode);
    QVERIFY(row >= 0);
    w.Form().LST_Episodes->setCurrentIndex(w.Rows().index(row));
}

QString Shown_Name(TF_Episodes& w) {
    return w.Form().LBL_Picture->text().section(QLatin1Char(' '), 0, 0);
}

} // namespace

class Episodes_Window_Test : public QObject {
    Q_OBJECT

private slots:
    void days_newest_first_with_their_episode_counts() {
        Tree t;
        World world;
        TF_Episodes w(Hooks(t, world));
        QCOMPARE(Texts(*w.Form().LST_Days),
                 QStringList({"2026-12-10 — 3 episodes", "2026-12-09 — 1 episode"}));
        QCOMPARE(w.windowTitle(), QString("Episodes"));
        QCOMPARE(w.objectName(), QString("F_Episodes"));
        // The other day's only episode once that day is chosen.
        w.Form().LST_Days->setCurrentRow(1);
        QCOMPARE(w.Rows().rowCount(), 1);
        QCOMPARE(w.Rows().Row(0).entry.folder_name, std::string("D0001"));
    }

    void rows_newest_first_with_times_counts_kind_and_upload_state() {
        Tree t;
        t.Queue(kDay, "D0004", kD4[4]);
        t.Queue(kDay, "D0004", kD4[5]);
        World world;
        TF_Episodes w(Hooks(t, world));
        struct Expected {
            const char* episode;
            const char* times;
            const char* kind;
            const char* state;
        };
        const Expected rows[] = {
            {"D0004", "10:05:00 – 10:05:02 · 2 s · 6 pictures", "Motion", "2 waiting"},
            {"R0001", "09:30:00 – 09:30:03 · 3 s · 4 pictures", "Continuous", "All sent"},
            {"D0003", "09:00:00 – 09:00:04 · 4 s · 2 pictures", "Motion",
             "1 refused by the server"},
        };
        QCOMPARE(w.Rows().rowCount(), 3);
        for (int i = 0; i < 3; ++i) {
            const QModelIndex index = w.Rows().index(i);
            QCOMPARE(index.data(Qt::DisplayRole).toString(),
                     QString(rows[i].episode) + "\n" + rows[i].times);
            QCOMPARE(index.data(Episode_Rows::Kind_Role).toString(), QString(rows[i].kind));
            QCOMPARE(index.data(Episode_Rows::State_Role).toString(), QString(rows[i].state));
        }
    }

    void only_the_rows_shown_are_read_and_their_thumbnails_asked_for() {
        test::Episode_Tree tree;
        for (int i = 1; i <= 300; ++i) {
            const std::string episode =
                "D" + QString::number(i).rightJustified(4, '0').toStdString();
            tree.Files(kDay + "/" + episode, {"I_10_00_00__00001.jpg"});
        }
        World world;
        Upload_List queue;
        Episodes_Hooks hooks;
        hooks.dest_folder = tree.Dest();
        hooks.queue = &queue;
        hooks.request_thumbnails = [&world](const std::vector<std::string>& paths) {
            world.thumbnails_asked.push_back(paths);
        };
        TF_Episodes w(std::move(hooks));
        w.resize(900, 400);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(50);
        QVERIFY2(w.Rows().Summaries_Read() < 40,
                 qPrintable(QString::number(w.Rows().Summaries_Read())));
        QVERIFY(!world.thumbnails_asked.empty());
        const std::vector<std::string>& asked = world.thumbnails_asked.back();
        QVERIFY(asked.size() > 1 && asked.size() < 40);
        QCOMPARE(asked.front(), tree.Path(kDay + "/D0300/I_10_00_00__00001.jpg"));
        // A thumbnail that comes back is the row's.
        QImage thumb(8, 6, QImage::Format_RGB32);
        thumb.fill(Qt::red);
        w.Thumbnail_Arrived(asked.front(), thumb);
        QTRY_COMPARE(w.Rows().index(0).data(Episode_Rows::Thumbnail_Role).value<QImage>(), thumb);
        QVERIFY(w.Rows().index(1).data(Episode_Rows::Thumbnail_Role).isNull());
    }

    void the_viewer_shows_the_first_picture_and_steps_with_the_keys() {
        Tree t;
        World world;
        TF_Episodes w(Hooks(t, world));
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // The newest episode is chosen at opening.
        QCOMPARE(Shown_Name(w), QString::fromStdString(kD4[0]));
        QVERIFY(w.Form().LBL_Picture->text().contains("10:05:00"));
        QCOMPARE(w.Form().CNV_Picture->Picture().pixelColor(5, 5).red(), 0);
        w.Form().LST_Episodes->setFocus();
        struct Step {
            Qt::Key key;
            int index;
        };
        for (const Step step :
             {Step{Qt::Key_Right, 1}, Step{Qt::Key_Right, 2}, Step{Qt::Key_Left, 1},
              Step{Qt::Key_End, 5}, Step{Qt::Key_Right, 5}, Step{Qt::Key_Home, 0}}) {
            QTest::keyClick(w.Form().LST_Episodes, step.key);
            QCOMPARE(w.Player().Index(), step.index);
            QCOMPARE(Shown_Name(w), QString::fromStdString(kD4[size_t(step.index)]));
            QCOMPARE(w.Form().SLD_Position->value(), step.index);
            // Each picture's own grey, decoded.
            QVERIFY(qAbs(w.Form().CNV_Picture->Picture().pixelColor(5, 5).red() - 40 * step.index) <
                    6);
        }
        // The keys step the viewer, not the list of episodes.
        QCOMPARE(w.Selected_Episode(), 0);
        QVERIFY(w.Form().LBL_Picture->text().contains("10:05:00"));
        w.Form().SLD_Position->setValue(3);
        QCOMPARE(Shown_Name(w), QString::fromStdString(kD4[3]));
        QVERIFY(w.Form().LBL_Picture->text().contains("10:05:01"));
    }

    void play_follows_the_times_taken_at_the_speed_chosen() {
        // Pictures at 0, 333, 666, 1000, 1500 and 2000 ms.
        struct Case {
            int speed_index;
            int64_t elapsed;
            int index;
            bool skipping;
        };
        const Case cases[] = {
            {0, 300, 0, false}, {0, 340, 1, false}, {0, 1600, 4, true}, {1, 100, 1, false},
            {1, 400, 4, true},  {2, 40, 1, false},  {2, 50, 2, true},   {2, 200, 5, true},
        };
        for (const Case& c : cases) {
            Tree t;
            World world;
            TF_Episodes w(Hooks(t, world));
            int64_t now = 0;
            w.Player().Set_Clock([&now] { return now; });
            w.Form().CMB_Speed->setCurrentIndex(c.speed_index);
            w.Form().BTN_Play->click();
            QVERIFY(w.Player().Playing());
            QCOMPARE(w.Form().BTN_Play->text(), QString("Pause"));
            now = c.elapsed;
            w.Player().Tick();
            QCOMPARE(w.Player().Index(), c.index);
            QCOMPARE(w.Form().LBL_Picture->text().contains("skipping"), c.skipping);
            // The end stops the play.
            QCOMPARE(w.Player().Playing(), c.index < 5);
        }
    }

    void play_runs_on_its_own_timer_to_the_end() {
        Tree t;
        World world;
        TF_Episodes w(Hooks(t, world));
        w.Form().CMB_Speed->setCurrentIndex(2);
        w.Player().Play();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Player().Playing(), 5000);
        QCOMPARE(w.Player().Index(), 5);
    }

    void delete_asks_once_without_waiting_pictures_and_twice_with() {
        struct Case {
            const char* episode;
            std::deque<bool> answers;
            size_t questions;
            bool deleted;
        };
        const Case cases[] = {
            {"R0001", {false}, 1, false},
            {"R0001", {true}, 1, true},
            {"D0004", {true, false}, 2, false},
            {"D0004", {true, true}, 2, true},
        };
        for (const Case& c : cases) {
            Tree t;
            t.Queue(kDay, "D0004", kD4[4]);
            t.Queue(kDay, "D0004", kD4[5]);
            t.Queue(kDay, "D0003", "I_09_00_04__00002.jpg");
            World world;
            world.answers = c.answers;
            TF_Episodes w(Hooks(t, world));
            Choose(w, c.episode);
            QVERIFY(w.Form().BTN_Delete->isEnabled());
            w.Form().BTN_Delete->click();
            QCOMPARE(world.questions.size(), c.questions);
            if (c.questions == 2)
                QVERIFY2(world.questions[1].startsWith("2 pictures"),
                         qPrintable(world.questions[1]));
            const std::string folder = kDay + "/" + c.episode;
            QCOMPARE(t.tree.Exists(
                         folder + "/" +
                         (c.episode[0] == 'R' ? std::string("I_09_30_00__00000.jpg") : kD4[0])),
                     !c.deleted);
            // D0004's folder holds the user's notes: it stays, without pictures.
            const bool mine_only = std::string(c.episode) == "R0001";
            QCOMPARE(Row_Named(w, c.episode) < 0, c.deleted && mine_only);
            QCOMPARE(w.Form().LST_Days->item(0)->text().contains("3 episodes"),
                     !(c.deleted && mine_only));
            QCOMPARE(world.told.size(), size_t(c.deleted && !mine_only ? 1 : 0));
            // The queue forgets the deleted episode's pictures, only them.
            const size_t left = std::string(c.episode) == "D0004" && c.deleted ? 1 : 3;
            QCOMPARE(t.queue.Unsent_Count(), left);
        }
    }

    void the_episode_being_recorded_cannot_be_deleted_and_grows() {
        Tree t;
        World world;
        world.recording = t.Episode(kDay, "D0004") + "/";
        TF_Episodes w(Hooks(t, world));
        Choose(w, "D0004");
        QVERIFY(!w.Form().BTN_Delete->isEnabled());
        Choose(w, "D0003");
        QVERIFY(w.Form().BTN_Delete->isEnabled());
        Choose(w, "D0004");
        t.Picture(kDay + "/D0004", "I_10_05_03__00016.jpg", 250);
        w.TMR_GrowTimer();
        QVERIFY(w.Rows().index(Row_Named(w, "D0004")).data().toString().contains("7 pictures"));
        QCOMPARE(w.Player().Count(), size_t(7));
        QCOMPARE(w.Player().Index(), 0); // the picture shown stays
        // A new episode in the day shown joins the list.
        world.recording = t.Episode(kDay, "D0005");
        t.Picture(kDay + "/D0005", "I_10_10_00__00017.jpg", 100);
        w.TMR_GrowTimer();
        QVERIFY(Row_Named(w, "D0005") >= 0);
        QCOMPARE(w.Rows().Row(w.Selected_Episode()).entry.folder_name, std::string("D0004"));
        QVERIFY(w.Form().LST_Days->item(0)->text().contains("4 episodes"));
        QVERIFY(w.Form().BTN_Delete->isEnabled());
        Choose(w, "D0005");
        QVERIFY(!w.Form().BTN_Delete->isEnabled());
        // Recording stopped: D0005 may go.
        world.recording.clear();
        w.TMR_GrowTimer();
        QVERIFY(w.Form().BTN_Delete->isEnabled());
    }

    void open_folder_opens_the_episodes_folder() {
        Tree t;
        World world;
        TF_Episodes w(Hooks(t, world));
        Choose(w, "R0001");
        w.Form().BTN_Open_Folder->click();
        QCOMPARE(world.opened.size(), size_t(1));
        QCOMPARE(world.opened[0].toLocalFile().toStdString(), t.Episode(kDay, "R0001"));
    }

    void export_refuses_the_destination_and_runs_elsewhere_with_cancel() {
        Tree t;
        World world;
        Export_Seen exports;
        TF_Episodes w(Hooks(t, world, &exports));
        Choose(w, "D0004");
        const char* inside[] = {"RIDEV_2026_12_10/D0004/video.webm", "video.webm",
                                "new/deeper/video.webm"};
        for (const char* path : inside) {
            world.save_path = QString::fromStdString(t.tree.Path(path));
            w.Form().BTN_Export->click();
            QVERIFY(world.suggested.endsWith("/Vistrel_2026_12_10_D0004.webm"));
            QVERIFY(world.suggested.startsWith(
                QStandardPaths::writableLocation(QStandardPaths::MoviesLocation)));
            QVERIFY(exports.requests.empty());
        }
        QCOMPARE(world.told.size(), std::size(inside));
        // A sibling whose name begins like the destination is outside it.
        world.save_path = QString::fromStdString(t.tree.Dest()).chopped(1) + "-videos/v.webm";
        w.Form().BTN_Export->click();
        QCOMPARE(exports.requests.size(), size_t(1));
        const Export_Request& request = exports.requests[0];
        QCOMPARE(request.output, world.save_path.toStdString());
        QCOMPARE(request.folder_path, t.Episode(kDay, "D0004"));
        QCOMPARE(request.pictures, kD4);
        QVERIFY(w.Form().PGB_Export->isVisible() || !w.isVisible());
        QVERIFY(!w.Form().BTN_Export->isEnabled());
        QVERIFY(!w.Form().BTN_Delete->isEnabled());
        exports.callbacks.progress(0.5);
        QTRY_COMPARE(w.Form().PGB_Export->value(), 500);
        w.Form().BTN_Cancel_Export->click();
        QVERIFY(exports.cancelled);
        exports.callbacks.done(false, "");
        QTRY_VERIFY(!w.Exporting());
        QVERIFY(w.Form().BTN_Export->isEnabled());
        QCOMPARE(world.told.size(), std::size(inside)); // a cancel is no failure
    }

    void the_picture_is_drawn_at_the_screens_pixels() {
        Tree t;
        World world;
        t.Picture(kDay + "/D0009", "I_11_00_00__00001.jpg", 128, {640, 480});
        t.tree.Changed_At(kDay + "/D0009", 4000);
        TF_Episodes w(Hooks(t, world));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        Choose(w, "D0009");
        Picture_Canvas& canvas = *w.Form().CNV_Picture;
        canvas.setFixedSize(200, 150);
        canvas.repaint();
        const qreal ratio = canvas.devicePixelRatioF();
        QCOMPARE(canvas.Drawn().devicePixelRatio(), ratio);
        QCOMPARE(canvas.Drawn().width(), qRound(200 * ratio));
        QCOMPARE(canvas.Drawn().height(), qRound(150 * ratio));
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Episodes_Window_Test)
#include "episodes_window_test.moc"
