#include "ui/web_links.h"

#include "ui_UF_Main.h"

namespace vistrel {

Web_Links::Web_Links(Ui::F_Main& form, Link_Addresses web,
                     std::function<bool(const QUrl&)> open_url, QObject* parent)
    : QObject(parent), ui_(form), web_(std::move(web)), open_url_(std::move(open_url)) {
    connect(ui_.BTN_Update, &QAbstractButton::clicked, this, &Web_Links::BTN_UpdateClick);
    connect(ui_.BTN_Paypal, &QAbstractButton::clicked, this, &Web_Links::BTN_PaypalClick);
    connect(ui_.BTN_Site_Kesto, &QAbstractButton::clicked, this, &Web_Links::BTN_Site_KestoClick);
    ui_.BTN_Paypal->setVisible(!web_.donation.isEmpty());
    ui_.LBL_Site_Kesto->setText(web_.site);
    ui_.LBL_Update->setText(QStringLiteral("Get the latest version here ..."));
}

void Web_Links::LBL_UpdateClick() {
    if (!ui_.LBL_Update->isEnabled())
        return;
    // A page that cannot be opened once will not open later in this run.
    if (!open_url_(QUrl(web_.download)))
        ui_.LBL_Update->setEnabled(false);
}

void Web_Links::BTN_UpdateClick() {
    LBL_UpdateClick();
}

void Web_Links::BTN_PaypalClick() {
    if (!web_.donation.isEmpty())
        open_url_(QUrl(web_.donation));
}

void Web_Links::BTN_Site_KestoClick() {
    open_url_(QUrl(web_.site));
}

} // namespace vistrel
