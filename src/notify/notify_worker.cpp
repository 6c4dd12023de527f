#include "notify/notify_worker.h"

#include <ctime>

namespace vistrel {

namespace {

constexpr std::array<Notify_Target, 4> kTargets = {Notify_Target::Ntfy, Notify_Target::Webhook,
                                                   Notify_Target::Email, Notify_Target::Telegram};

size_t Index(Notify_Target target) {
    return static_cast<size_t>(target);
}

} // namespace

bool Target_Enabled(const Notify_Settings& s, Notify_Target target) {
    switch (target) {
    case Notify_Target::Ntfy:
        return s.ntfy.enabled;
    case Notify_Target::Webhook:
        return s.webhook.enabled;
    case Notify_Target::Email:
        return s.email.enabled;
    case Notify_Target::Telegram:
        return s.telegram.enabled;
    }
    return false;
}

Notify_Worker::Notify_Worker(Notify_Queue& queue, Message_Sender& sender, Notify_Worker_Hooks hooks,
                             bool start_thread)
    : queue_(queue), sender_(sender), hooks_(std::move(hooks)) {
    if (start_thread)
        thread_ = std::thread([this] { Run(); });
}

Notify_Worker::~Notify_Worker() {
    Stop();
}

void Notify_Worker::Wake() {
    {
        const std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

void Notify_Worker::Settings_Changed() {
    {
        const std::lock_guard lock(mutex_);
        for (Target_State& t : targets_)
            t = Target_State{};
        woken_ = true;
    }
    wake_.notify_all();
}

void Notify_Worker::Stop() noexcept {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    sender_.Cancel();
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

std::string Notify_Worker::Last_Failure(Notify_Target target) const {
    const std::lock_guard lock(mutex_);
    return targets_[Index(target)].last_failure;
}

bool Notify_Worker::Refused(Notify_Target target) const {
    const std::lock_guard lock(mutex_);
    return targets_[Index(target)].refused;
}

Notify_Clock::time_point Notify_Worker::Steady_Now() const {
    return hooks_.steady_now ? hooks_.steady_now() : Notify_Clock::now();
}

void Notify_Worker::Run() {
    for (;;) {
        std::optional<Notify_Clock::time_point> next;
        try {
            next = Run_Round();
        } catch (...) {
            // A round that failed is tried again after a while.
            next = Steady_Now() + Retry_Delay(1);
        }
        std::unique_lock lock(mutex_);
        const auto woken = [this] { return woken_ || stopping_; };
        if (next)
            wake_.wait_until(lock, *next, woken);
        else
            wake_.wait(lock, woken);
        if (stopping_)
            return;
        woken_ = false;
    }
}

std::optional<Notify_Clock::time_point> Notify_Worker::Run_Round() {
    const Notify_Settings settings = hooks_.settings ? hooks_.settings() : Notify_Settings{};
    const int64_t wall = hooks_.wall_now_s ? hooks_.wall_now_s() : std::time(nullptr);
    queue_.Merge_Old(wall);
    std::optional<Notify_Clock::time_point> next;
    for (const Notify_Target target : kTargets) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_)
                return std::nullopt;
        }
        // A target switched off takes its waiting messages with it.
        if (!Target_Enabled(settings, target)) {
            queue_.Drop_Target(target);
            continue;
        }
        const Notify_Clock::time_point now = Steady_Now();
        Deliver(target, settings, now);
        const std::lock_guard lock(mutex_);
        const Target_State& state = targets_[Index(target)];
        if (state.next_try && !state.refused && (!next || *state.next_try < *next))
            next = state.next_try;
    }
    return next;
}

void Notify_Worker::Deliver(Notify_Target target, const Notify_Settings& settings,
                            Notify_Clock::time_point now) {
    bool refused = false;
    {
        const std::lock_guard lock(mutex_);
        const Target_State& state = targets_[Index(target)];
        if (state.next_try && now < *state.next_try)
            return;
        refused = state.refused;
    }
    // Until its settings change, what a refusing target gets is refused
    // again: it is not kept.
    if (refused) {
        queue_.Drop_Target(target);
        return;
    }
    for (const Queued_Message& message : queue_.Messages()) {
        if (message.target != target)
            continue;
        const Delivery delivery = sender_.Send(target, settings, message.event);
        std::string refusal;
        {
            const std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            Target_State& state = targets_[Index(target)];
            switch (delivery.outcome) {
            case Delivery::Outcome::Delivered:
            case Delivery::Outcome::Dropped:
                state.failures = 0;
                state.next_try.reset();
                if (delivery.outcome == Delivery::Outcome::Delivered)
                    state.last_failure.clear();
                break;
            case Delivery::Outcome::Retry:
                ++state.failures;
                state.next_try = now + Retry_Delay(state.failures);
                state.last_failure = delivery.words;
                return;
            case Delivery::Outcome::Refused:
                state.refused = true;
                state.last_failure = delivery.words;
                refusal = delivery.words;
                break;
            }
        }
        if (!refusal.empty() || delivery.outcome == Delivery::Outcome::Refused) {
            queue_.Drop_Target(target);
            if (hooks_.refused)
                hooks_.refused(target, delivery.words);
            return;
        }
        queue_.Remove(message.id);
    }
}

} // namespace vistrel
