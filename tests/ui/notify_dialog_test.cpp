// The Notifications dialog: the settings it shows and returns, the ntfy
// topic, address and QR code, the hidden secrets, the last failures, and the
// tests sent from it with a scripted sender.
#include "notify/notify_service.h"
#include "support/temp_dir.h"
#include "ui/notify_dialog.h"
#include "ui/qr_code.h"

#include "ui_UF_Notify.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <qrencode.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

namespace vistrel {

namespace {

using Outcome = Delivery::Outcome;

// How the fake senders answer, and what they were given. Each sender the
// service makes shares it; a blocked one returns when cancelled.
struct Script {
    std::mutex mutex;
    std::condition_variable changed;
    Delivery answer{Outcome::Delivered, "200: {\"id\":\"Kx3\"}"};
    bool block = false;
    int blocked = 0;
    struct Sent {
        Notify_Target target;
        Notify_Settings settings;
        Episode_Event event;
        QByteArray picture;          // the file as it was when the send began
        bool picture_at_end = false; // and whether it was still there at its end
    };
    std::vector<Sent> sent;

    std::vector<Sent> Sent_Now() {
        const std::lock_guard lock(mutex);
        return sent;
    }
    int Blocked() {
        const std::lock_guard lock(mutex);
        return blocked;
    }
};

class Fake_Sender : public Message_Sender {
public:
    explicit Fake_Sender(Script& script) : script_(script) {}

    Delivery Send(Notify_Target target, const Notify_Settings& settings,
                  const Episode_Event& event) override {
        QFile file(QString::fromStdString(event.picture_path));
        const QByteArray picture = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        std::unique_lock lock(script_.mutex);
        const size_t index = script_.sent.size();
        script_.sent.push_back({target, settings, event, picture, false});
        Delivery answer = script_.answer;
        if (script_.block) {
            ++script_.blocked;
            script_.changed.wait(lock, [this] { return cancelled_; });
            --script_.blocked;
            answer = {Outcome::Retry, "cancelled"};
        }
        script_.sent[index].picture_at_end = std::filesystem::exists(event.picture_path);
        return answer;
    }

    void Cancel() noexcept override {
        const std::lock_guard lock(script_.mutex);
        cancelled_ = true;
        script_.changed.notify_all();
    }

private:
    Script& script_;
    bool cancelled_ = false;
};

// A service in a folder of its own whose senders follow `script`.
struct Fixture {
    test::Temp_Dir dir;
    Script script;
    Notify_Service service{
        dir.Folder(),
        Notify_Service::Hooks{{}, [this] { return std::make_unique<Fake_Sender>(script); }}};
};

Notify_Settings Fully_Set() {
    Notify_Settings s;
    s.cooldown_s = Notify_Settings::kMost_Cooldown_s;
    s.on_end = true;
    s.ntfy = {true, "https://ntfy.example.org", "Zq81kPwe02LmnB7cXr4T", "tk_ntfy"};
    s.webhook = {true, "https://hooks.example.org/vistrel?x=1", "hook-secret"};
    s.email = {true,    "smtp.example.org", 465,       Mail_Security::Tls, "me@x.org",
               "pa ss", "cam@x.org",        "me@y.org"};
    s.telegram = {true, "123456:ABC-def", "-100987"};
    return s;
}

// The modules of a pixmap made by Qr_Code_Pixmap, one pixel each, read from
// each block's centre; null when a block is not one colour.
QImage Modules_Of(const QPixmap& pixmap, int modules) {
    const QImage shown = pixmap.toImage().convertToFormat(QImage::Format_Grayscale8);
    if (modules <= 0 || shown.width() != shown.height() || shown.width() % modules != 0)
        return {};
    const int scale = shown.width() / modules;
    QImage grid(modules, modules, QImage::Format_Grayscale8);
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const uchar value = shown.constScanLine(y)[x];
            if (x % scale == 0 && y % scale == 0)
                grid.scanLine(y / scale)[x / scale] = value;
            else if (value != shown.constScanLine(y - y % scale)[x - x % scale])
                return {};
        }
    return grid;
}

bool Is_Jpeg_Of(const QByteArray& bytes, QSize size, QColor colour) {
    QImage picture;
    if (!bytes.startsWith("\xFF\xD8\xFF") || !picture.loadFromData(bytes, "JPEG"))
        return false;
    const QColor middle = picture.pixelColor(size.width() / 2, size.height() / 2);
    return picture.size() == size && std::abs(middle.red() - colour.red()) < 8 &&
           std::abs(middle.green() - colour.green()) < 8 &&
           std::abs(middle.blue() - colour.blue()) < 8;
}

} // namespace

class Notify_Dialog_Test : public QObject {
    Q_OBJECT

private slots:
    void settings_come_back_as_given_and_as_edited() {
        Notify_Settings some;
        some.cooldown_s = 0;
        some.ntfy.topic = "kept";
        some.email.port = 1;
        some.email.security = Mail_Security::Starttls;
        for (const Notify_Settings& given : {Fully_Set(), some}) {
            Fixture f;
            TF_Notify dialog(given, f.service, {}, nullptr);
            QVERIFY(dialog.Settings() == given);
            Ui::F_Notify& form = dialog.Form();
            form.SPN_Cooldown->setValue(75);
            form.CKB_On_End->click();
            form.CKB_Ntfy_Enabled->click();
            form.EDT_Ntfy_Server->setText("http://127.0.0.1:8080");
            form.EDT_Webhook_Url->setText("http://127.0.0.1/h");
            form.CKB_Email_Enabled->click();
            form.SPN_Email_Port->setValue(2525);
            form.CBX_Email_Security->setCurrentIndex(
                given.email.security == Mail_Security::Tls ? 0 : 1);
            form.EDT_Email_To->setText("other@x.org");
            form.EDT_Telegram_Chat->setText("42");
            Notify_Settings edited = given;
            edited.cooldown_s = 75;
            edited.on_end = !given.on_end;
            edited.ntfy.enabled = !given.ntfy.enabled;
            edited.ntfy.server = "http://127.0.0.1:8080";
            edited.webhook.url = "http://127.0.0.1/h";
            edited.email.enabled = !given.email.enabled;
            edited.email.port = 2525;
            edited.email.security = given.email.security == Mail_Security::Tls
                                        ? Mail_Security::Starttls
                                        : Mail_Security::Tls;
            edited.email.to = "other@x.org";
            edited.telegram.chat = "42";
            QVERIFY(dialog.Settings() == edited);
            // Nothing is applied by the dialog itself.
            QVERIFY(f.service.Settings() == Notify_Settings{});
        }
        Fixture f;
        TF_Notify dialog(Notify_Settings{}, f.service, {}, nullptr);
        QCOMPARE(dialog.Form().SPN_Cooldown->maximum(), 3600);
        QCOMPARE(dialog.Form().SPN_Cooldown->minimum(), 0);
        QCOMPARE(dialog.Form().SPN_Email_Port->maximum(), 65535);
        QCOMPARE(dialog.Form().SPN_Email_Port->minimum(), 1);
        QCOMPARE(dialog.windowTitle(), QString("Notifications"));
    }

    void an_empty_topic_becomes_a_new_random_one() {
        Fixture f;
        const auto topic_of = [&](const Notify_Settings& given) {
            TF_Notify dialog(given, f.service, {}, nullptr);
            return dialog.Settings().ntfy.topic;
        };
        const std::string first = topic_of({}), second = topic_of({});
        for (const std::string& topic : {first, second}) {
            QCOMPARE(topic.size(), size_t(20));
            QVERIFY(
                std::all_of(topic.begin(), topic.end(), [](char c) { return std::isalnum(c); }));
        }
        QVERIFY(first != second);
        Notify_Settings named;
        named.ntfy.topic = "mine";
        QCOMPARE(topic_of(named), std::string("mine"));

        TF_Notify dialog(named, f.service, {}, nullptr);
        dialog.Form().BTN_Ntfy_New_Topic->click();
        const std::string fresh = dialog.Settings().ntfy.topic;
        QCOMPARE(fresh.size(), size_t(20));
        QCOMPARE(dialog.Form().LBL_Ntfy_Address->text().toStdString(), "https://ntfy.sh/" + fresh);
    }

    void the_address_and_its_code_follow_server_and_topic() {
        struct Case {
            QString server, topic, address;
        };
        const Case cases[] = {
            {"https://ntfy.sh", "Zq81kPwe02LmnB7cXr4T", "https://ntfy.sh/Zq81kPwe02LmnB7cXr4T"},
            {"https://ntfy.example.org/", "Zq81kPwe02LmnB7cXr4T",
             "https://ntfy.example.org/Zq81kPwe02LmnB7cXr4T"},
            {"http://192.168.1.20:8080", "cam", "http://192.168.1.20:8080/cam"},
        };
        Fixture f;
        TF_Notify dialog(Notify_Settings{}, f.service, {}, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QLabel& qr = *dialog.Form().LBL_Ntfy_Qr;
        std::vector<QImage> codes;
        for (const Case& c : cases) {
            dialog.Form().EDT_Ntfy_Server->setText(c.server);
            dialog.Form().EDT_Ntfy_Topic->setText(c.topic);
            QCOMPARE(dialog.Form().LBL_Ntfy_Address->text(), c.address);
            QCOMPARE(dialog.Form().LBL_Ntfy_Address->textInteractionFlags() &
                         Qt::TextSelectableByMouse,
                     Qt::TextSelectableByMouse);
            const QImage expected = Qr_Code_Image(c.address.toStdString());
            const QPixmap shown = qr.pixmap();
            QCOMPARE(shown.devicePixelRatio(), qr.devicePixelRatioF());
            QVERIFY(shown.deviceIndependentSize().width() <= qr.width());
            // Sharp: each module a square of whole device pixels, at least
            // two of them wide once the screen is scaled.
            const QImage modules = Modules_Of(shown, expected.width());
            QVERIFY2(!modules.isNull(), qPrintable(c.address));
            QCOMPARE(modules, expected);
            QVERIFY(shown.width() / expected.width() >= 2 * qr.devicePixelRatioF() ||
                    qr.devicePixelRatioF() == 1.0);
            codes.push_back(expected);
        }
        QVERIFY(codes[0] != codes[1] && codes[1] != codes[2]);
    }

    void the_qr_code_has_its_modules_and_a_white_quiet_zone() {
        const std::string texts[] = {"https://ntfy.sh/Zq81kPwe02LmnB7cXr4T", "a",
                                     "https://ntfy.example.org/" + std::string(150, 'x')};
        for (const std::string& text : texts) {
            const QImage image = Qr_Code_Image(text);
            QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
            QVERIFY(code != nullptr);
            const int width = code->width;
            QCOMPARE(image.size(), QSize(width + 8, width + 8));
            int dark = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const int gray = qGray(image.pixel(x, y));
                    const bool inside = x >= 4 && y >= 4 && x < width + 4 && y < width + 4;
                    const bool module = inside && (code->data[(y - 4) * width + x - 4] & 1);
                    QCOMPARE(gray, module ? 0 : 255);
                    dark += module;
                }
            QRcode_free(code);
            // The three finder squares at least.
            QVERIFY(dark > 3 * 33);
        }
        QVERIFY(Qr_Code_Image(texts[0]) != Qr_Code_Image(texts[0] + "x"));
        QVERIFY(Qr_Code_Image("").isNull());
        QVERIFY(Qr_Code_Image(std::string(4000, 'x')).isNull());

        // Scaled by the largest whole number that fits, at any screen ratio.
        const QImage code = Qr_Code_Image(texts[0]);
        struct Case {
            int side;
            qreal ratio;
            int scale;
        };
        for (const Case c : {Case{120, 1.0, 120 / 37}, Case{120, 2.0, 240 / 37},
                             Case{120, 1.5, 180 / 37}, Case{10, 1.0, 1}}) {
            const QPixmap pixmap = Qr_Code_Pixmap(code, c.side, c.ratio);
            QCOMPARE(pixmap.width(), 37 * c.scale);
            QCOMPARE(pixmap.devicePixelRatio(), c.ratio);
            QCOMPARE(Modules_Of(pixmap, 37), code);
        }
    }

    void secrets_are_typed_unseen() {
        Fixture f;
        TF_Notify dialog(Fully_Set(), f.service, {}, nullptr);
        Ui::F_Notify& form = dialog.Form();
        for (QLineEdit* secret : {form.EDT_Ntfy_Token, form.EDT_Webhook_Token,
                                  form.EDT_Email_Password, form.EDT_Telegram_Token})
            QVERIFY2(secret->echoMode() == QLineEdit::Password, qPrintable(secret->objectName()));
        for (QLineEdit* plain : {form.EDT_Ntfy_Server, form.EDT_Ntfy_Topic, form.EDT_Webhook_Url,
                                 form.EDT_Email_Login, form.EDT_Telegram_Chat})
            QVERIFY2(plain->echoMode() == QLineEdit::Normal, qPrintable(plain->objectName()));
    }

    void each_group_shows_its_targets_last_failure() {
        Fixture f;
        f.script.answer = {Outcome::Retry, "503: Service Unavailable"};
        Notify_Settings settings;
        settings.ntfy = {true, "http://127.0.0.1:9", "t", ""};
        f.service.Apply(settings);
        f.dir.Write("I_14_03_22__00012.jpg", "\xFF\xD8\xFF");
        Episode_Event event;
        event.picture_path = f.dir.File("I_14_03_22__00012.jpg");
        f.service.Episode_Started(event);
        QTRY_VERIFY_WITH_TIMEOUT(!f.service.Last_Failure(Notify_Target::Ntfy).empty(), 10000);
        TF_Notify dialog(settings, f.service, {}, nullptr);
        dialog.show();
        Ui::F_Notify& form = dialog.Form();
        QVERIFY(form.LBL_Ntfy_Failure->isVisible());
        QVERIFY(form.LBL_Ntfy_Failure->text().contains("503: Service Unavailable"));
        const QColor ink = form.LBL_Ntfy_Failure->palette().color(QPalette::WindowText);
        QVERIFY(ink.red() > 2 * ink.green() && ink.red() > 2 * ink.blue());
        for (QLabel* none :
             {form.LBL_Webhook_Failure, form.LBL_Email_Failure, form.LBL_Telegram_Failure})
            QVERIFY(!none->isVisible());
    }

    // With the settings shown, not those in use, and the live picture as a
    // JPEG file while it is sent.
    void a_test_sends_what_is_shown_and_tells_the_answer() {
        Fixture f;
        QImage live(320, 240, QImage::Format_RGB32);
        live.fill(QColor(0, 128, 128));
        QImage current = live;
        TF_Notify dialog(
            Fully_Set(), f.service, [&] { return current; }, nullptr);
        dialog.show();
        dialog.Form().EDT_Webhook_Url->setText("http://127.0.0.1:1/shown");
        struct Case {
            QPushButton* button;
            QLabel* outcome;
            Notify_Target target;
            Delivery answer;
            QString shown;
        };
        Ui::F_Notify& form = dialog.Form();
        const Case cases[] = {
            {form.BTN_Webhook_Test,
             form.LBL_Webhook_Outcome,
             Notify_Target::Webhook,
             {Outcome::Delivered, "200: {\"id\":\"Kx3\"}"},
             "Sent: 200: {\"id\":\"Kx3\"}"},
            {form.BTN_Telegram_Test,
             form.LBL_Telegram_Outcome,
             Notify_Target::Telegram,
             {Outcome::Refused, "401: Unauthorized"},
             "Not sent: 401: Unauthorized"},
            {form.BTN_Email_Test,
             form.LBL_Email_Outcome,
             Notify_Target::Email,
             {Outcome::Retry, "could not connect to smtp.example.org"},
             "Not sent: could not connect to smtp.example.org"},
            // One long word does not widen the dialog.
            {form.BTN_Webhook_Test,
             form.LBL_Webhook_Outcome,
             Notify_Target::Webhook,
             {Outcome::Delivered, "200: " + std::string(200, 'x')},
             "Sent: 200: " + QString(200, 'x')},
        };
        const int width = dialog.sizeHint().width();
        for (const Case& c : cases) {
            f.script.answer = c.answer;
            c.button->click();
            QVERIFY(!c.button->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(c.button->isEnabled(), 10000);
            QCOMPARE(c.outcome->text(), c.shown);
            QVERIFY(c.outcome->isVisible());
            const Script::Sent sent = f.script.Sent_Now().back();
            QCOMPARE(sent.target, c.target);
            QVERIFY(sent.settings == dialog.Settings());
            QCOMPARE(sent.event.picture_name, std::string("Vistrel_test.jpg"));
            QVERIFY(QString::fromStdString(sent.event.picture_path).endsWith("/Vistrel_test.jpg"));
            QVERIFY(Is_Jpeg_Of(sent.picture, {320, 240}, QColor(0, 128, 128)));
        }
        QCOMPARE(dialog.sizeHint().width(), width);
        QCOMPARE(f.script.Sent_Now().size(), size_t(4));
        QCOMPARE(f.script.Sent_Now()[0].settings.webhook.url,
                 std::string("http://127.0.0.1:1/shown"));
        QVERIFY(form.LBL_Ntfy_Outcome->text().isEmpty());

        // No live picture yet: a grey one of the recorded size.
        current = QImage();
        form.BTN_Ntfy_Test->click();
        QTRY_VERIFY_WITH_TIMEOUT(form.BTN_Ntfy_Test->isEnabled(), 10000);
        QVERIFY(Is_Jpeg_Of(f.script.Sent_Now().back().picture, {640, 480}, QColor(128, 128, 128)));
    }

    // A server that does not answer holds neither the window nor its close.
    void a_test_that_hangs_keeps_the_dialog_usable_and_ends_with_the_service() {
        Fixture f;
        f.script.block = true;
        TF_Notify dialog(Notify_Settings{}, f.service, {}, nullptr);
        dialog.show();
        Ui::F_Notify& form = dialog.Form();
        form.BTN_Ntfy_Test->click();
        QTRY_COMPARE_WITH_TIMEOUT(f.script.Blocked(), 1, 10000);
        QCOMPARE(form.LBL_Ntfy_Outcome->text(), QString("Sending..."));
        QTest::keyClicks(form.EDT_Ntfy_Topic, "X");
        QVERIFY(form.LBL_Ntfy_Address->text().endsWith("X"));
        QVERIFY(!form.BTN_Ntfy_Test->isEnabled());

        // The next test cuts the first short; each group tells its own.
        form.BTN_Email_Test->click();
        QTRY_VERIFY_WITH_TIMEOUT(form.BTN_Ntfy_Test->isEnabled(), 10000);
        QCOMPARE(form.LBL_Ntfy_Outcome->text(), QString("Not sent: cancelled"));
        QTRY_COMPARE_WITH_TIMEOUT(f.script.Blocked(), 1, 10000);
        QVERIFY(!form.BTN_Email_Test->isEnabled());
        f.service.Close();
        QTRY_VERIFY_WITH_TIMEOUT(form.BTN_Email_Test->isEnabled(), 10000);
        QCOMPARE(form.LBL_Email_Outcome->text(), QString("Not sent: cancelled"));
    }

    // The test is the dialog's: closing it cuts the test short, and the
    // picture stays until the sender is done with it.
    void a_dialog_closed_during_a_test_cuts_it_short() {
        Fixture f;
        f.script.block = true;
        auto dialog = std::make_unique<TF_Notify>(Notify_Settings{}, f.service,
                                                  std::function<QImage()>{}, nullptr);
        dialog->show();
        dialog->Form().BTN_Telegram_Test->click();
        QTRY_COMPARE_WITH_TIMEOUT(f.script.Blocked(), 1, 10000);
        dialog->reject();
        dialog.reset();
        QCoreApplication::processEvents(); // the answer finds no dialog
        const std::vector<Script::Sent> sent = f.script.Sent_Now();
        QCOMPARE(sent.size(), size_t(1));
        QVERIFY(sent[0].picture_at_end);
        // Gone once the test is over.
        QVERIFY(!std::filesystem::exists(sent[0].event.picture_path));
    }
};

} // namespace vistrel

QTEST_MAIN(vistrel::Notify_Dialog_Test)
#include "notify_dialog_test.moc"
