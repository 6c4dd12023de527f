// The messages about episodes as the program runs them: the settings from
// notify.ini, the queue in the data folder, the worker that delivers, and
// the tests the Notifications dialog sends. No Qt: the window reaches it
// through the composition root.
#pragma once

#include "notify/episode_notifier.h"
#include "notify/message_sender.h"
#include "notify/notify_queue.h"
#include "notify/notify_settings.h"
#include "notify/notify_worker.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vistrel {

class Notify_Service {
public:
    struct Hooks {
        // A target refused for good, with the server's words; called once per
        // refusal, on the worker's thread.
        std::function<void(Notify_Target, const std::string&)> refused;
        // Makes the sender of the worker and of each test; the real one by
        // default.
        std::function<std::unique_ptr<Message_Sender>()> make_sender;
    };

    // Reads notify.ini and notify_queue in `data_folder` (ending in "/") and
    // starts delivering what an earlier run left.
    Notify_Service(std::string data_folder, Hooks hooks);
    // Close, if not done.
    ~Notify_Service();
    Notify_Service(const Notify_Service&) = delete;
    Notify_Service& operator=(const Notify_Service&) = delete;

    Notify_Settings Settings() const;
    // Saves notify.ini (throws std::system_error when it cannot) and uses
    // the settings from then on.
    void Apply(const Notify_Settings& settings);

    void Episode_Started(const Episode_Event& event);
    void Episode_Ended(const Episode_Event& event);

    // The last failure of a target in words; empty once it delivered.
    std::string Last_Failure(Notify_Target target) const;
    size_t Waiting() const { return queue_.Size(); }

    // Sends a real message with `picture` to one target with `settings`
    // (those shown in the dialog, maybe not applied yet), on a thread of its
    // own; `done` gets the outcome there. A test still running is cut short
    // by the next one and by Close.
    void Send_Test(Notify_Target target, const Notify_Settings& settings,
                   const Episode_Event& picture, std::function<void(const Delivery&)> done);

    // Ends a test under way at once; its `done` gets a Retry. Never throws.
    void Cancel_Test() noexcept { Stop_Test(); }

    // Ends the delivery and any test under way at once; the messages not
    // delivered stay in the queue for the next run. Never throws.
    void Close() noexcept;

private:
    void Stop_Test() noexcept;

    std::string data_folder_;
    Hooks hooks_;
    mutable std::mutex settings_mutex_;
    Notify_Settings settings_;
    Notify_Queue queue_;
    std::unique_ptr<Message_Sender> sender_;
    std::unique_ptr<Notify_Worker> worker_;
    Episode_Notifier notifier_;

    std::mutex test_mutex_;
    std::unique_ptr<Message_Sender> test_sender_;
    std::thread test_thread_;
};

} // namespace vistrel
