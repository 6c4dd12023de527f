// Turns the episodes the tick reports into queued messages: one per enabled
// target, at most one start message per cooldown, end messages when asked.
#pragma once

#include "notify/delivery_rules.h"
#include "notify/episode_event.h"
#include "notify/notify_queue.h"
#include "notify/notify_settings.h"

#include <functional>

namespace vistrel {

struct Episode_Notifier_Hooks {
    std::function<Notify_Settings()> settings;
    std::function<void()> wake_worker;
    std::function<Notify_Clock::time_point()> steady_now; // default: the steady clock
    std::function<int64_t()> wall_now_s;                  // default: time(nullptr)
};

class Episode_Notifier {
public:
    Episode_Notifier(Notify_Queue& queue, Episode_Notifier_Hooks hooks);

    // Returns whether a message was queued.
    bool Episode_Started(Episode_Event event);
    bool Episode_Ended(Episode_Event event);

private:
    bool Queue_For_Enabled(const Notify_Settings& settings, const Episode_Event& event);

    Notify_Queue& queue_;
    Episode_Notifier_Hooks hooks_;
    Start_Cooldown cooldown_;
};

} // namespace vistrel
