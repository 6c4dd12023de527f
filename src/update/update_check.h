// The update check, ten seconds after start: asks the web server for the
// version file off the GUI thread, and offers the download page when a newer
// version is there or this one is old.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace vistrel {

struct Update_Check_Hooks {
    // The HTTP client: starts fetching the version file; `done` gets its
    // body (nothing on any failure) on some thread. The fetch is dropped
    // with the handle. Without it nothing is ever asked.
    std::function<std::shared_ptr<void>(const std::string& url,
                                        std::function<void(std::optional<std::string>)> done)>
        HTP_Check_Ver;
    QString version_url;
    std::function<std::time_t()> program_modified; // the program file's modification time
    std::function<std::time_t()> now;
};

class Update_Check : public QObject {
    Q_OBJECT

public:
    // The dialog opens over `window`.
    Update_Check(QWidget& window, Update_Check_Hooks hooks);
    ~Update_Check() override;

    void Start() { TMR_Update.start(); }
    // No version is asked for, and no answer shown, from now on.
    void Stop();

    void TMR_UpdateTimer();
    // Asks the web server for the version file; the check goes on when the
    // answer, or its failure, is there.
    void Get_Remote_Version();

    QTimer& Timer() { return TMR_Update; }

signals:
    // LBL_UpdateClick: the download page is wanted.
    void Open_Download_Page();
    // The user chose to update: the program ends the normal way.
    void Exit_Asked();

private:
    void Continue_Update_Check(const std::optional<std::string>& body);

    QWidget& window_;
    Update_Check_Hooks hooks_;
    QTimer TMR_Update;
    bool stopped_ = false;
    std::shared_ptr<void> version_fetch_; // a fetch still running
};

} // namespace vistrel
