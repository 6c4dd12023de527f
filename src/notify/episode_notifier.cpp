#include "notify/episode_notifier.h"

#include "notify/notify_worker.h"

#include <ctime>

namespace vistrel {

Episode_Notifier::Episode_Notifier(Notify_Queue& queue, Episode_Notifier_Hooks hooks)
    : queue_(queue), hooks_(std::move(hooks)) {}

bool Episode_Notifier::Episode_Started(Episode_Event event) {
    const Notify_Settings settings = hooks_.settings ? hooks_.settings() : Notify_Settings{};
    if (!settings.Any_Enabled())
        return false;
    const Notify_Clock::time_point now =
        hooks_.steady_now ? hooks_.steady_now() : Notify_Clock::now();
    if (!cooldown_.Allow(now, settings.cooldown_s))
        return false;
    event.moment = Event_Moment::Start;
    event.more_episodes = cooldown_.Take_Quiet_Episodes();
    return Queue_For_Enabled(settings, event);
}

bool Episode_Notifier::Episode_Ended(Episode_Event event) {
    const Notify_Settings settings = hooks_.settings ? hooks_.settings() : Notify_Settings{};
    // Continuous recording has one message, at its start.
    if (!settings.on_end || event.kind != Episode_Kind::Motion)
        return false;
    event.moment = Event_Moment::End;
    return Queue_For_Enabled(settings, event);
}

bool Episode_Notifier::Queue_For_Enabled(const Notify_Settings& settings,
                                         const Episode_Event& event) {
    const int64_t wall = hooks_.wall_now_s ? hooks_.wall_now_s() : std::time(nullptr);
    bool queued = false;
    for (const Notify_Target target : {Notify_Target::Ntfy, Notify_Target::Webhook,
                                       Notify_Target::Email, Notify_Target::Telegram})
        if (Target_Enabled(settings, target)) {
            queue_.Add(target, event, wall);
            queued = true;
        }
    if (queued && hooks_.wake_worker)
        hooks_.wake_worker();
    return queued;
}

} // namespace vistrel
