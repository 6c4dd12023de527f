// When messages go, and when they stop being tried: the cooldown between
// episodes, the back-off after a failure and the answers that mean "never".
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace vistrel {

using Notify_Clock = std::chrono::steady_clock;

// One start message per cooldown for all targets together; the episodes
// that started meanwhile are counted into the next message.
class Start_Cooldown {
public:
    // Whether a start message goes for an episode starting at `now`.
    // `cooldown_s` of 0 lets every one go.
    bool Allow(Notify_Clock::time_point now, int cooldown_s);
    // The episodes kept quiet since the last message that went; 0 after.
    uint32_t Take_Quiet_Episodes();

private:
    std::optional<Notify_Clock::time_point> last_sent_;
    uint32_t quiet_ = 0;
};

// 10 s after the first failure, doubling at each next one, at most 5 min.
std::chrono::seconds Retry_Delay(uint32_t failures);

// 4xx answers but for 408 (time-out) and 429 (too many requests): asking
// again will not help.
bool Refused_For_Good(long http_status);

// How old a message may be before it is merged with the others of its
// target that could not be delivered either.
inline constexpr std::chrono::minutes kMerge_After{15};

} // namespace vistrel
