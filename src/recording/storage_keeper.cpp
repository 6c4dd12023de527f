#include "recording/storage_keeper.h"

namespace vistrel {

namespace {

std::string With_Slash(std::string folder) {
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

Storage_Keeper::Storage_Keeper(Keeper_Hooks hooks, std::chrono::milliseconds interval)
    : hooks_(std::move(hooks)), interval_(interval) {
    auto stopping = hooks_.stopping;
    hooks_.stopping = [this, stopping] {
        std::lock_guard lock(mutex_);
        return stop_ || (stopping && stopping());
    };
    thread_ = std::thread([this] { Run(); });
}

Storage_Keeper::~Storage_Keeper() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Storage_Keeper::Set_Current_Episode(const std::string& folder) noexcept {
    try {
        std::lock_guard lock(mutex_);
        inputs_.current_episode = folder;
    } catch (...) {
    }
}

void Storage_Keeper::Update(const Keeper_Inputs& inputs) noexcept {
    try {
        {
            std::lock_guard lock(mutex_);
            inputs_ = inputs;
            updated_ = true;
            // Every tick updates: the thread is woken only when it waits for
            // one, not while it rests between passes or runs one.
            if (!waiting_for_update_)
                return;
        }
        wake_.notify_one();
    } catch (...) {
    }
}

Keeper_Inputs Storage_Keeper::Inputs() const {
    std::lock_guard lock(mutex_);
    return inputs_;
}

Keep_Free_Outcome Storage_Keeper::Last_Outcome() const {
    std::lock_guard lock(mutex_);
    return outcome_;
}

uint64_t Storage_Keeper::Passes() const {
    std::lock_guard lock(mutex_);
    return passes_;
}

std::string Storage_Keeper::Status_Text() const {
    std::lock_guard lock(mutex_);
    return Keeper_Status_Text(outcome_);
}

std::optional<std::string> Storage_Keeper::Take_Notice() noexcept {
    std::lock_guard lock(mutex_);
    std::optional<std::string> notice;
    notice.swap(notice_);
    return notice;
}

Keep_Free_Outcome Storage_Keeper::Pass(const Keeper_Inputs& inputs) {
    const std::string dest = With_Slash(inputs.dest_folder);
    if (inputs.keep_free_bytes == 0 || dest.empty()) {
        // Off: another Vistrel may keep this folder now.
        lock_.reset();
        ledger_.Clear();
        Keep_Free_Outcome off;
        off.dest_folder = inputs.dest_folder;
        return off;
    }
    // What was carried belongs to the disk and target it was measured for.
    if (dest != ledger_dest_ || inputs.keep_free_bytes != ledger_keep_) {
        ledger_.Clear();
        ledger_dest_ = dest;
        ledger_keep_ = inputs.keep_free_bytes;
    }
    // Tried again at every pass until held: the other keeper may stop. Not
    // in a folder without pictures of the program's (one being typed, one
    // not made yet): nothing may go there, so it only measures.
    if (!lock_ || !lock_->Held() || lock_->Folder() != dest) {
        lock_.reset();
        if (!Holds_Day_Folder(dest))
            return Keep_Free_Space([this] { return Inputs(); }, hooks_, ledger_, false);
        lock_ = std::make_unique<Destination_Lock>(dest);
    }
    if (!lock_->Held()) {
        Keep_Free_Outcome refused;
        refused.dest_folder = inputs.dest_folder;
        refused.keep_free_bytes = inputs.keep_free_bytes;
        refused.enough_room = false;
        refused.state = lock_->State() == Destination_Lock::Result::Held_Elsewhere
                            ? Keeper_State::Other_Keeper
                            : Keeper_State::No_Lock;
        refused.reason = lock_->Reason();
        return refused;
    }
    return Keep_Free_Space([this] { return Inputs(); }, hooks_, ledger_);
}

void Storage_Keeper::Told(const Keep_Free_Outcome& outcome) {
    if (Worth_A_Notice(outcome.state)) {
        if (told_ != outcome.state) {
            told_ = outcome.state;
            notice_ = Keeper_Status_Text(outcome);
        }
    } else if (outcome.state == Keeper_State::Room || outcome.state == Keeper_State::Off) {
        told_.reset();
    }
}

void Storage_Keeper::Run() noexcept {
    using Steady = std::chrono::steady_clock;
    std::optional<Steady::time_point> last_pass;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (last_pass && wake_.wait_until(lock, *last_pass + interval_, [&] { return stop_; }))
            break;
        waiting_for_update_ = true;
        wake_.wait(lock, [&] { return stop_ || updated_; });
        waiting_for_update_ = false;
        if (stop_)
            break;
        updated_ = false;
        const Keeper_Inputs inputs = inputs_;
        lock.unlock();
        Keep_Free_Outcome outcome;
        try {
            outcome = Pass(inputs);
        } catch (...) {
            outcome.state = Keeper_State::Unknown;
            outcome.enough_room = false;
        }
        lock.lock();
        try {
            Told(outcome);
        } catch (...) {
        }
        outcome_ = std::move(outcome);
        ++passes_;
        last_pass = Steady::now();
    }
    lock.unlock();
    lock_.reset();
}

} // namespace vistrel
