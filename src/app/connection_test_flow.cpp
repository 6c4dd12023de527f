#include "app/connection_test_flow.h"

#include "upload/connection_test.h"
#include "upload/trust_prompt.h"

namespace vistrel {

Connection_Test_Flow::Connection_Test_Flow(Upload_Service& upload, Trust_Prompt& trust,
                                           std::string data_folder, Connection_Test_Hooks hooks)
    : upload_(upload), trust_(trust), data_folder_(std::move(data_folder)),
      hooks_(std::move(hooks)), runner_(upload, data_folder_ + "datas.ini") {}

void Connection_Test_Flow::BTN_FTP_TestClick() {
    if (!upload_.Can_Send() || running_ || closing_)
        return;
    running_ = true;
    hooks_.read_parameters();
    Start_Test();
}

void Connection_Test_Flow::Start_Test() {
    runner_.Start(hooks_.read_parameters(), [this](const Connection_Test_Outcome& outcome) {
        QMetaObject::invokeMethod(
            this, [this, outcome] { Outcome(outcome); }, Qt::QueuedConnection);
    });
}

void Connection_Test_Flow::Outcome(Connection_Test_Outcome outcome) {
    // A server the user trusts is kept, and the test goes on with a
    // connection that uses it.
    const bool ask = !closing_ && !outcome.cancelled;
    if (outcome.unknown_key) {
        if (ask && trust_.Trust(*outcome.unknown_key) && !closing_ && Keep_Trust(outcome))
            return Start_Test();
    } else if (outcome.untrusted) {
        if (ask && trust_.Trust(*outcome.untrusted) && !closing_ && Keep_Trust(outcome))
            return Start_Test();
    }
    Finish(outcome);
}

bool Connection_Test_Flow::Keep_Trust(Connection_Test_Outcome& outcome) {
    try {
        if (outcome.unknown_key)
            Trust_Host_Key(data_folder_ + kKnown_Hosts_File_Name, *outcome.unknown_key);
        else
            Trusted_Servers(data_folder_ + Trusted_Servers::kFile_Name)
                .Pin(outcome.untrusted->Host(), outcome.untrusted->Port(),
                     outcome.untrusted->Peer().Certificate.Fingerprint);
        return true;
    } catch (const std::exception& e) {
        outcome.failure =
            std::string(outcome.unknown_key ? "Cannot keep the trusted host key: "
                                            : "Cannot keep the trusted certificate: ") +
            e.what();
        return false;
    }
}

void Connection_Test_Flow::Finish(const Connection_Test_Outcome& outcome) {
    if (outcome.sent && outcome.failure.empty()) {
        hooks_.show_success();
        upload_.Worker()->Connection_Test_Succeeded();
    }
    hooks_.read_parameters();
    runner_.Release();
    running_ = false;
    if (closing_) {
        emit Closing_Can_Go_On();
        return;
    }
    if (!outcome.failure.empty())
        hooks_.show_failure(Error_Box_Text(outcome.failure));
}

void Connection_Test_Flow::Cut_For_Close() {
    closing_ = true;
    runner_.Cancel();
    upload_.Cut();
    trust_.Cancel(); // nobody is left to answer it
}

} // namespace vistrel
