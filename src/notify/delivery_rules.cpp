#include "notify/delivery_rules.h"

#include <algorithm>

namespace vistrel {

bool Start_Cooldown::Allow(Notify_Clock::time_point now, int cooldown_s) {
    if (last_sent_ && cooldown_s > 0 && now - *last_sent_ < std::chrono::seconds(cooldown_s)) {
        ++quiet_;
        return false;
    }
    last_sent_ = now;
    return true;
}

uint32_t Start_Cooldown::Take_Quiet_Episodes() {
    const uint32_t quiet = quiet_;
    quiet_ = 0;
    return quiet;
}

std::chrono::seconds Retry_Delay(uint32_t failures) {
    constexpr std::chrono::seconds kFirst{10};
    constexpr std::chrono::seconds kMost{300};
    if (failures <= 1)
        return kFirst;
    const uint32_t doublings = std::min<uint32_t>(failures - 1, 16);
    return std::min(kFirst * (int64_t{1} << doublings), kMost);
}

bool Refused_For_Good(long http_status) {
    return http_status >= 400 && http_status < 500 && http_status != 408 && http_status != 429;
}

} // namespace vistrel
