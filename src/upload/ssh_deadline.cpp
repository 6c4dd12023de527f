#include "upload/ssh_deadline.h"

namespace vistrel {

std::string Limit_Text(Milliseconds limit) {
    if (limit.count() % 1000 == 0)
        return std::to_string(limit.count() / 1000) + " s";
    return std::to_string(limit.count()) + " ms";
}

Watchdog::Watchdog(std::function<void()> cut) : cut_(std::move(cut)) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

Watchdog::Armed Watchdog::Arm(Milliseconds limit) {
    std::lock_guard lock(mutex_);
    ++arming_;
    if (limit < Milliseconds::zero()) {
        deadline_.reset();
        return Armed(nullptr, arming_);
    }
    if (!thread_.joinable())
        thread_ = std::thread([this] { Watch(); });
    deadline_ = Steady_Clock::now() + limit;
    changed_.notify_all();
    return Armed(this, arming_);
}

bool Watchdog::Armed::Disarm() noexcept {
    if (watchdog_ == nullptr)
        return expired_;
    // The cut runs under the same lock: taking it waits for a cut under way.
    std::lock_guard lock(watchdog_->mutex_);
    if (watchdog_->arming_ == arming_)
        watchdog_->deadline_.reset();
    expired_ = watchdog_->expired_arming_ == arming_;
    watchdog_ = nullptr;
    return expired_;
}

void Watchdog::Watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!deadline_) {
            changed_.wait(lock);
            continue;
        }
        if (Steady_Clock::now() < *deadline_) {
            changed_.wait_until(lock, *deadline_);
            continue;
        }
        deadline_.reset();
        expired_arming_ = arming_;
        // Under the lock, so that a disarm that comes too late still finds
        // the call cut before it returns.
        cut_();
    }
}

} // namespace vistrel
