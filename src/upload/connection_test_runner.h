// Runs the FTP connection test beside the caller, once no upload run holds
// the session, and reports its outcome; the caller is never blocked, so
// sampling and recording go on while a slow server is waited for.
#pragma once

#include "settings/working_settings.h"
#include "upload/server_trust.h"
#include "upload/sftp_client.h"
#include "upload/upload_service.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace vistrel {

struct Connection_Test_Outcome {
    bool sent = false;
    std::string failure;                        // empty on success
    std::optional<Certificate_Error> untrusted; // a certificate the user may pin
    std::optional<Host_Key_Error> unknown_key;  // an SFTP server's key the user may trust
    bool cancelled = false;                     // cut short by Cancel
};

class Connection_Test_Runner {
public:
    // `settings_file` is the file the test appends to the server.
    Connection_Test_Runner(Upload_Service& service, std::string settings_file);
    // Cuts a test still running and waits for its thread.
    ~Connection_Test_Runner();
    Connection_Test_Runner(const Connection_Test_Runner&) = delete;
    Connection_Test_Runner& operator=(const Connection_Test_Runner&) = delete;

    // Holds the service's worker, waits beside the caller for the run in
    // progress to end, tests, and calls `done` on the test's thread. The
    // worker stays held until Release. Nothing happens while a test runs.
    bool Start(const Working_Settings& settings,
               std::function<void(const Connection_Test_Outcome&)> done);
    // Cuts the test's connection: `done` comes soon, cancelled.
    void Cancel() noexcept;
    // Lets the worker run again, once the caller is done with the outcome.
    void Release();
    bool Running() const { return running_; }

private:
    void Join() noexcept;

    Upload_Service& service_;
    std::string settings_file_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelled_{false};
};

// What a failed test tells, and what it lets the user trust.
Connection_Test_Outcome Run_Connection_Test_For_Outcome(Ftp_Session& session,
                                                        const Working_Settings& settings,
                                                        const std::string& settings_file);

} // namespace vistrel
