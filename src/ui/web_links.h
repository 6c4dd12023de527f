// The buttons and the label that open the maker's pages in the browser. A
// page that could not be opened once is not tried again in this run.
#pragma once

#include <QObject>
#include <QUrl>

#include <functional>

namespace Ui {
class F_Main;
}

namespace vistrel {

struct Link_Addresses {
    QString download; // the download page
    QString site;     // the maker's page of programs
    QString donation; // empty: no donation button
};

class Web_Links : public QObject {
    Q_OBJECT

public:
    Web_Links(Ui::F_Main& form, Link_Addresses web, std::function<bool(const QUrl&)> open_url,
              QObject* parent);

    // The click action of the hidden link label: opens the download page,
    // unless an earlier failure switched the label off.
    void LBL_UpdateClick();
    void BTN_UpdateClick();
    void BTN_PaypalClick();
    void BTN_Site_KestoClick();

private:
    Ui::F_Main& ui_;
    Link_Addresses web_;
    std::function<bool(const QUrl&)> open_url_;
};

} // namespace vistrel
