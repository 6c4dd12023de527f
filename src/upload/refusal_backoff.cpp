#include "upload/refusal_backoff.h"

#include <algorithm>

namespace vistrel {

void Refusal_Backoff::Refused(Steady_Clock::time_point now) {
    wait_ = wait_.count() == 0 ? Milliseconds(kFirst_Wait)
                               : std::min<Milliseconds>(2 * wait_, kLongest_Wait);
    until_ = now + wait_;
}

void Refusal_Backoff::Reset() {
    wait_ = Milliseconds(0);
    until_ = {};
}

bool Refusal_Backoff::Waiting(Steady_Clock::time_point now) const {
    return wait_.count() > 0 && now < until_;
}

} // namespace vistrel
