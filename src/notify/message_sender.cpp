#include "notify/message_sender.h"

#include "notify/delivery_rules.h"

#include <cstdlib>

namespace vistrel {

std::string Telegram_Api_Base() {
    const char* base = std::getenv("VISTREL_TELEGRAM_API");
    std::string api = base != nullptr && *base != '\0' ? base : "https://api.telegram.org";
    while (!api.empty() && api.back() == '/')
        api.pop_back();
    return api;
}

std::string Ntfy_Topic_Address(const Ntfy_Target& ntfy) {
    std::string server = ntfy.server;
    while (!server.empty() && server.back() == '/')
        server.pop_back();
    return server + "/" + ntfy.topic;
}

Delivery Delivery_Of_Answer(long status, const std::string& body) {
    const size_t end = body.find_first_of("\r\n");
    std::string first_line = body.substr(0, std::min<size_t>(end, 200));
    Delivery d;
    d.words = std::to_string(status) + (first_line.empty() ? "" : ": " + first_line);
    if (status >= 200 && status < 300)
        d.outcome = Delivery::Outcome::Delivered;
    else if (Refused_For_Good(status))
        d.outcome = Delivery::Outcome::Refused;
    else
        d.outcome = Delivery::Outcome::Retry;
    return d;
}

} // namespace vistrel
