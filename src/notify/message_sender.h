// Delivering one message to one target, and what came of it.
#pragma once

#include "notify/episode_event.h"
#include "notify/notify_queue.h"
#include "notify/notify_settings.h"

#include <string>

namespace vistrel {

struct Delivery {
    enum class Outcome {
        Delivered,
        Retry,   // no answer, or one that may change: tried again later
        Refused, // the target said no for good: its messages stop
        Dropped, // this message can never go (its picture is gone)
    };
    Outcome outcome = Outcome::Retry;
    // The server's answer ("200 OK: first line") or the failure, in words
    // that hold no password or token.
    std::string words;
};

class Message_Sender {
public:
    virtual ~Message_Sender() = default;
    virtual Delivery Send(Notify_Target target, const Notify_Settings& settings,
                          const Episode_Event& event) = 0;
    // Ends a Send under way, and every later one, at once. Thread-safe.
    virtual void Cancel() noexcept = 0;
};

// "https://api.telegram.org", or VISTREL_TELEGRAM_API when set.
std::string Telegram_Api_Base();

// SERVER/TOPIC, the address a phone subscribes to.
std::string Ntfy_Topic_Address(const Ntfy_Target& ntfy);

// What an HTTP answer means for the message.
Delivery Delivery_Of_Answer(long status, const std::string& body);

} // namespace vistrel
