// How long the worker leaves a server alone after it refused us (a
// certificate or host key we do not trust, a refused login): trying again at
// every tick would look like an attack to the server, and lock the account
// or the address out.
#pragma once

#include "net/byte_stream.h"

#include <chrono>

namespace vistrel {

class Refusal_Backoff {
public:
    static constexpr std::chrono::seconds kFirst_Wait{10};
    static constexpr std::chrono::seconds kLongest_Wait{300};

    // Each refusal in a row doubles the wait, up to the longest.
    void Refused(Steady_Clock::time_point now);
    // The server took us again, or whatever it refused has changed.
    void Reset();
    // Whether nothing may be sent to the server at `now`.
    bool Waiting(Steady_Clock::time_point now) const;
    // The wait after the last refusal; zero when none.
    Milliseconds Wait() const { return wait_; }

private:
    Milliseconds wait_{0};
    Steady_Clock::time_point until_{};
};

} // namespace vistrel
