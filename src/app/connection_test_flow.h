// The FTP connection test as the user sees it: the test runs beside the
// window; a certificate or host key the user trusts is kept and the test
// goes on with it; the end shows success or the error.
#pragma once

#include "upload/connection_test_runner.h"

#include <QObject>

#include <functional>
#include <string>

namespace vistrel {

class Trust_Prompt;

struct Connection_Test_Hooks {
    // Copies the controls into the working settings and hands them back.
    std::function<Working_Settings()> read_parameters;
    std::function<void()> show_success;
    std::function<void(const std::string& message)> show_failure;
};

class Connection_Test_Flow : public QObject {
    Q_OBJECT

public:
    Connection_Test_Flow(Upload_Service& upload, Trust_Prompt& trust, std::string data_folder,
                         Connection_Test_Hooks hooks);

    void BTN_FTP_TestClick();
    bool Running() const { return running_; }
    // The window is closing: the test's connection is cut and an open
    // question closed; Closing_Can_Go_On follows soon.
    void Cut_For_Close();

signals:
    void Closing_Can_Go_On();

private:
    void Start_Test();
    void Outcome(Connection_Test_Outcome outcome);
    // Keeps what the user trusts; false, with the failure told, when it
    // cannot be written.
    bool Keep_Trust(Connection_Test_Outcome& outcome);
    void Finish(const Connection_Test_Outcome& outcome);

    Upload_Service& upload_;
    Trust_Prompt& trust_;
    const std::string data_folder_;
    Connection_Test_Hooks hooks_;
    Connection_Test_Runner runner_;
    bool running_ = false;
    bool closing_ = false;
};

} // namespace vistrel
