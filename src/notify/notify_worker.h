// Delivers the queued messages from a thread of its own, so that a slow or
// dead server never holds the tick, the uploads or the close. Each target
// goes at its own pace: after a failure it waits (10 s doubling to 5 min)
// while the others go on; after a refusal for good its messages stop until
// its settings change.
#pragma once

#include "notify/delivery_rules.h"
#include "notify/message_sender.h"
#include "notify/notify_queue.h"
#include "notify/notify_settings.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vistrel {

struct Notify_Worker_Hooks {
    // The settings now; called on the worker's thread.
    std::function<Notify_Settings()> settings;
    std::function<Notify_Clock::time_point()> steady_now; // default: the steady clock
    std::function<int64_t()> wall_now_s;                  // default: time(nullptr)
    // A target refused for good, once per refusal, with the server's words.
    // Called on the worker's thread.
    std::function<void(Notify_Target, const std::string&)> refused;
};

class Notify_Worker {
public:
    // Without `start_thread` nothing runs until Run_Round is called: the
    // tests drive it by hand with their clocks.
    Notify_Worker(Notify_Queue& queue, Message_Sender& sender, Notify_Worker_Hooks hooks,
                  bool start_thread = true);
    ~Notify_Worker();
    Notify_Worker(const Notify_Worker&) = delete;
    Notify_Worker& operator=(const Notify_Worker&) = delete;

    // Something was queued, or the settings changed: look again now.
    void Wake();
    // The settings of the targets changed: refusals and waits are forgotten.
    void Settings_Changed();
    // Ends the delivery under way at once and the thread with it. Never
    // throws; the messages not delivered stay in the queue.
    void Stop() noexcept;

    // Delivers what is due now; returns when the next message is due, if
    // any waits.
    std::optional<Notify_Clock::time_point> Run_Round();

    // The words of the last failure of a target, empty once it delivered.
    std::string Last_Failure(Notify_Target target) const;
    bool Refused(Notify_Target target) const;

private:
    struct Target_State {
        uint32_t failures = 0;
        std::optional<Notify_Clock::time_point> next_try;
        bool refused = false;
        std::string last_failure;
    };

    void Run();
    Notify_Clock::time_point Steady_Now() const;
    // Delivers the target's messages in order until one fails.
    void Deliver(Notify_Target target, const Notify_Settings& settings,
                 Notify_Clock::time_point now);

    Notify_Queue& queue_;
    Message_Sender& sender_;
    Notify_Worker_Hooks hooks_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    bool stopping_ = false;
    std::array<Target_State, 4> targets_;
    std::thread thread_;
};

// Whether the target is switched on in the settings.
bool Target_Enabled(const Notify_Settings& settings, Notify_Target target);

} // namespace vistrel
