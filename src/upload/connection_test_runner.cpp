#include "upload/connection_test_runner.h"

#include "upload/connection_test.h"

#include <chrono>

namespace vistrel {

Connection_Test_Outcome Run_Connection_Test_For_Outcome(Ftp_Session& session,
                                                        const Working_Settings& settings,
                                                        const std::string& settings_file) {
    Connection_Test_Outcome outcome;
    try {
        outcome.sent = Run_Connection_Test(session, settings, settings_file);
    } catch (const Host_Key_Error& e) {
        outcome.failure = e.what();
        if (e.Problem() == Host_Key_Problem::Unknown)
            outcome.unknown_key = e;
    } catch (const Certificate_Error& e) {
        outcome.failure = e.what();
        const Certificate_Problem problem = e.Problem();
        if (problem == Certificate_Problem::Untrusted || problem == Certificate_Problem::Changed)
            outcome.untrusted = e;
    } catch (const std::exception& e) {
        outcome.failure = e.what();
        if (outcome.failure.empty())
            outcome.failure = "The FTP connection test failed";
    } catch (...) {
        outcome.failure = "The FTP connection test failed";
    }
    // A server that closed the connection right after its greeting sent
    // nothing and said nothing: no success is shown, and no error either.
    return outcome;
}

Connection_Test_Runner::Connection_Test_Runner(Upload_Service& service, std::string settings_file)
    : service_(service), settings_file_(std::move(settings_file)) {}

Connection_Test_Runner::~Connection_Test_Runner() {
    Cancel();
    Join();
}

bool Connection_Test_Runner::Start(const Working_Settings& settings,
                                   std::function<void(const Connection_Test_Outcome&)> done) {
    if (running_ || !service_.Can_Send())
        return false;
    Join();
    running_ = true;
    cancelled_ = false;
    // No run may start until the test ends.
    service_.Hold(true);
    thread_ = std::thread([this, settings, done = std::move(done)] {
        Upload_Worker& worker = *service_.Worker();
        // The run in progress ends at its next picture or its time limit.
        while ((worker.FTP_Busy() || worker.Active()) && !cancelled_)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Connection_Test_Outcome outcome;
        if (!cancelled_)
            outcome =
                Run_Connection_Test_For_Outcome(*service_.Session(), settings, settings_file_);
        outcome.cancelled = cancelled_;
        running_ = false;
        done(outcome);
    });
    return true;
}

void Connection_Test_Runner::Cancel() noexcept {
    if (!running_)
        return;
    cancelled_ = true;
    service_.Cut();
}

void Connection_Test_Runner::Release() {
    Join();
    service_.Hold(false);
}

void Connection_Test_Runner::Join() noexcept {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

} // namespace vistrel
