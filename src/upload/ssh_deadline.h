// A time limit enforced from outside a blocking call: for a library whose own
// limits do not end every wait (libssh waits for an SFTP reply for ever
// whatever its time-out option says). When an armed limit passes, a cut,
// typically shutting the connection down, makes the blocked call fail.
#pragma once

#include "net/byte_stream.h"
#include "upload/ftp_session.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vistrel {

// "60 s", or "1500 ms" for a limit of no whole seconds.
std::string Limit_Text(Milliseconds limit);

class Watchdog {
public:
    // `cut` runs on the watchdog's own thread when an armed limit passes.
    // It must not throw, and must not wait for the call it cuts short.
    explicit Watchdog(std::function<void()> cut);
    // Joins the watchdog's thread: no cut runs after it.
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // One armed limit, for one call at a time; disarmed when it ends.
    class Armed {
    public:
        ~Armed() { Disarm(); }
        Armed(const Armed&) = delete;
        Armed& operator=(const Armed&) = delete;

        // Whether the limit passed first. Once this returns, the cut of this
        // arming has either run to its end or will never run.
        bool Disarm() noexcept;

    private:
        friend class Watchdog;
        Armed(Watchdog* watchdog, uint64_t arming) : watchdog_(watchdog), arming_(arming) {}
        Watchdog* watchdog_;
        uint64_t arming_;
        bool expired_ = false;
    };

    // Cuts `limit` from now unless disarmed first; kNo_Limit (any negative
    // limit) arms nothing. The thread starts at the first arming.
    [[nodiscard]] Armed Arm(Milliseconds limit);

private:
    void Watch();

    const std::function<void()> cut_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Deadline> deadline_; // of the arming `arming_`
    uint64_t arming_ = 0;
    uint64_t expired_arming_ = 0; // the last arming that was cut; 0: none
    bool stopping_ = false;
    std::thread thread_; // last: started after everything it reads
};

// One wait for the server under its limit, for a session whose cut the
// watchdog makes: when the limit passes, the wait fails with the cut
// session, and Answered() reports it as the time-out it is.
class Waiting {
public:
    Waiting(Watchdog& watchdog, Milliseconds limit, std::string unanswered)
        : armed_(watchdog.Arm(limit)), limit_(limit), unanswered_(std::move(unanswered)) {}

    // Throws when the limit passed first: the session is cut, whatever the
    // call returned. A lost connection, not a refusal.
    void Answered() {
        if (armed_.Disarm())
            throw FTP_Error(0, unanswered_ + " within " + Limit_Text(limit_));
    }

private:
    Watchdog::Armed armed_;
    Milliseconds limit_;
    std::string unanswered_;
};

// `call`, one request and its reply, under the limit. What it yields must
// release itself, since a late answer is thrown away.
template <typename Call>
auto Within(Watchdog& watchdog, Milliseconds limit, const std::string& request, Call call) {
    Waiting waiting(watchdog, limit, "no reply to " + request);
    auto result = call();
    waiting.Answered();
    return result;
}

} // namespace vistrel
