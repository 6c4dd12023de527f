#include "ui/notify_dialog.h"

#include "notify/notify_service.h"
#include "recording/snapshot.h"
#include "ui/qr_code.h"
#include "ui_UF_Notify.h"

#include <QApplication>
#include <QDateTime>
#include <QMetaObject>
#include <QPointer>
#include <QSaveFile>
#include <QTemporaryDir>

#include <stdexcept>

namespace vistrel {

namespace {

constexpr int kQr_Side = 120; // logical pixels; a version 3 code gets 3 per module
constexpr QSize kNo_Frame_Size{640, 480};
constexpr Notify_Target kTargets[] = {Notify_Target::Ntfy, Notify_Target::Webhook,
                                      Notify_Target::Email, Notify_Target::Telegram};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QLineEdit* edit) {
    return edit->text().toStdString();
}

Episode_Event Test_Event(const std::string& picture_path) {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    Episode_Event event;
    event.folder = "Vistrel test";
    event.picture_path = picture_path;
    event.picture_name = kTest_Picture_Name;
    event.time = {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()};
    event.utc_offset_s = now.offsetFromUtc();
    return event;
}

} // namespace

TF_Notify::TF_Notify(const Notify_Settings& settings, Notify_Service& service,
                     std::function<QImage()> live, QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::F_Notify>()), service_(service),
      live_(std::move(live)), folder_(std::make_shared<QTemporaryDir>()) {
    ui_->setupUi(this);
    ui_->SPN_Cooldown->setRange(0, Notify_Settings::kMost_Cooldown_s);
    ui_->SPN_Email_Port->setRange(1, 65535);
    ui_->LBL_Ntfy_Qr->setFixedSize(kQr_Side, kQr_Side);
    // The whole topic in view: it is read off to type on another device.
    QLineEdit* topic = ui_->EDT_Ntfy_Topic;
    topic->setMinimumWidth(topic->fontMetrics().horizontalAdvance(QString(22, 'M')));
    for (const Notify_Target target : kTargets) {
        const Target_Widgets w = Widgets(target);
        connect(w.test, &QPushButton::clicked, this, [this, target] { Send_Test(target); });
        w.outcome->setVisible(false);
        // A server's answer may be one long word: it is cut, not let widen
        // the dialog past the screen; the tooltip has it whole.
        for (QLabel* words : {w.outcome, w.failure})
            words->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        // Dark red: the group's labels are silver cells.
        w.failure->setStyleSheet(QStringLiteral("color: #a00000;"));
        const std::string failure = service_.Last_Failure(target);
        w.failure->setText(tr("Last failure: %1").arg(Q(failure)));
        w.failure->setToolTip(w.failure->text());
        w.failure->setVisible(!failure.empty());
    }
    connect(ui_->EDT_Ntfy_Server, &QLineEdit::textChanged, this, &TF_Notify::Show_Address);
    connect(ui_->EDT_Ntfy_Topic, &QLineEdit::textChanged, this, &TF_Notify::Show_Address);
    connect(ui_->BTN_Ntfy_New_Topic, &QPushButton::clicked, this,
            [this] { ui_->EDT_Ntfy_Topic->setText(Q(New_Ntfy_Topic())); });
    Notify_Settings shown = settings;
    // A phone can subscribe at once, without the user making a name up; a
    // guessable one would let others read the pictures.
    if (shown.ntfy.topic.empty())
        shown.ntfy.topic = New_Ntfy_Topic();
    Show(shown);
}

TF_Notify::~TF_Notify() {
    // A test is the dialog's own: it does not outlive it.
    service_.Cancel_Test();
}

TF_Notify::Target_Widgets TF_Notify::Widgets(Notify_Target target) const {
    switch (target) {
    case Notify_Target::Ntfy:
        return {ui_->BTN_Ntfy_Test, ui_->LBL_Ntfy_Outcome, ui_->LBL_Ntfy_Failure};
    case Notify_Target::Webhook:
        return {ui_->BTN_Webhook_Test, ui_->LBL_Webhook_Outcome, ui_->LBL_Webhook_Failure};
    case Notify_Target::Email:
        return {ui_->BTN_Email_Test, ui_->LBL_Email_Outcome, ui_->LBL_Email_Failure};
    case Notify_Target::Telegram:
        break;
    }
    return {ui_->BTN_Telegram_Test, ui_->LBL_Telegram_Outcome, ui_->LBL_Telegram_Failure};
}

void TF_Notify::Show(const Notify_Settings& s) {
    ui_->SPN_Cooldown->setValue(s.cooldown_s);
    ui_->CKB_On_End->setChecked(s.on_end);
    ui_->CKB_Ntfy_Enabled->setChecked(s.ntfy.enabled);
    ui_->EDT_Ntfy_Server->setText(Q(s.ntfy.server));
    ui_->EDT_Ntfy_Topic->setText(Q(s.ntfy.topic));
    ui_->EDT_Ntfy_Token->setText(Q(s.ntfy.token));
    ui_->CKB_Webhook_Enabled->setChecked(s.webhook.enabled);
    ui_->EDT_Webhook_Url->setText(Q(s.webhook.url));
    ui_->EDT_Webhook_Token->setText(Q(s.webhook.token));
    ui_->CKB_Email_Enabled->setChecked(s.email.enabled);
    ui_->EDT_Email_Server->setText(Q(s.email.server));
    ui_->SPN_Email_Port->setValue(s.email.port);
    ui_->CBX_Email_Security->setCurrentIndex(s.email.security == Mail_Security::Tls ? 1 : 0);
    ui_->EDT_Email_Login->setText(Q(s.email.login));
    ui_->EDT_Email_Password->setText(Q(s.email.password));
    ui_->EDT_Email_From->setText(Q(s.email.from));
    ui_->EDT_Email_To->setText(Q(s.email.to));
    ui_->CKB_Telegram_Enabled->setChecked(s.telegram.enabled);
    ui_->EDT_Telegram_Token->setText(Q(s.telegram.token));
    ui_->EDT_Telegram_Chat->setText(Q(s.telegram.chat));
    Show_Address();
}

Notify_Settings TF_Notify::Settings() const {
    Notify_Settings s;
    s.cooldown_s = ui_->SPN_Cooldown->value();
    s.on_end = ui_->CKB_On_End->isChecked();
    s.ntfy = {ui_->CKB_Ntfy_Enabled->isChecked(), S(ui_->EDT_Ntfy_Server), S(ui_->EDT_Ntfy_Topic),
              S(ui_->EDT_Ntfy_Token)};
    s.webhook = {ui_->CKB_Webhook_Enabled->isChecked(), S(ui_->EDT_Webhook_Url),
                 S(ui_->EDT_Webhook_Token)};
    s.email = {ui_->CKB_Email_Enabled->isChecked(),
               S(ui_->EDT_Email_Server),
               ui_->SPN_Email_Port->value(),
               ui_->CBX_Email_Security->currentIndex() == 1 ? Mail_Security::Tls
                                                            : Mail_Security::Starttls,
               S(ui_->EDT_Email_Login),
               S(ui_->EDT_Email_Password),
               S(ui_->EDT_Email_From),
               S(ui_->EDT_Email_To)};
    s.telegram = {ui_->CKB_Telegram_Enabled->isChecked(), S(ui_->EDT_Telegram_Token),
                  S(ui_->EDT_Telegram_Chat)};
    return s;
}

void TF_Notify::Show_Address() {
    Ntfy_Target ntfy;
    ntfy.server = S(ui_->EDT_Ntfy_Server);
    ntfy.topic = S(ui_->EDT_Ntfy_Topic);
    const std::string address = Ntfy_Topic_Address(ntfy);
    ui_->LBL_Ntfy_Address->setText(Q(address));
    ui_->LBL_Ntfy_Qr->setPixmap(
        Qr_Code_Pixmap(Qr_Code_Image(address), kQr_Side, ui_->LBL_Ntfy_Qr->devicePixelRatioF()));
}

std::string TF_Notify::Write_Test_Picture() {
    if (!folder_->isValid())
        throw std::runtime_error(folder_->errorString().toStdString());
    QImage picture = live_ ? live_() : QImage();
    if (picture.isNull()) {
        picture = QImage(kNo_Frame_Size, QImage::Format_RGB32);
        picture.fill(QColor(128, 128, 128));
    }
    const std::string jpeg = Encode_Jpeg(picture);
    // Replaced in one step: a test cut short may still be reading the last.
    const QString path = folder_->filePath(QString::fromLatin1(kTest_Picture_Name));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(jpeg.data(), static_cast<qint64>(jpeg.size())) !=
            static_cast<qint64>(jpeg.size()) ||
        !file.commit())
        throw std::runtime_error(file.errorString().toStdString());
    return path.toStdString();
}

void TF_Notify::Send_Test(Notify_Target target) {
    const Target_Widgets w = Widgets(target);
    w.outcome->setVisible(true);
    std::string picture;
    try {
        picture = Write_Test_Picture();
    } catch (const std::exception& e) {
        w.outcome->setText(tr("Not sent: the test picture could not be written: %1")
                               .arg(QString::fromLocal8Bit(e.what())));
        return;
    }
    w.test->setEnabled(false);
    w.outcome->setText(tr("Sending..."));
    // `done` runs on the test's own thread: the answer crosses to the GUI
    // thread, where a dialog closed meanwhile is gone.
    QPointer<TF_Notify> self(this);
    service_.Send_Test(target, Settings(), Test_Event(picture),
                       [self, target, folder = folder_](const Delivery& delivery) {
                           QMetaObject::invokeMethod(
                               QCoreApplication::instance(),
                               [self, target, delivery] {
                                   if (self)
                                       self->Show_Outcome(target, delivery);
                               },
                               Qt::QueuedConnection);
                       });
}

void TF_Notify::Show_Outcome(Notify_Target target, const Delivery& delivery) {
    const Target_Widgets w = Widgets(target);
    w.test->setEnabled(true);
    const QString words = Q(delivery.words);
    if (delivery.outcome == Delivery::Outcome::Delivered)
        w.outcome->setText(words.isEmpty() ? tr("Sent.") : tr("Sent: %1").arg(words));
    else
        w.outcome->setText(tr("Not sent: %1").arg(words.isEmpty() ? tr("no answer") : words));
    w.outcome->setToolTip(w.outcome->text());
}

} // namespace vistrel
