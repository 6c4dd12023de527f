// Messages through libcurl: a PUT to ntfy, a multipart POST to the webhook
// and to Telegram's sendPhoto, an e-mail over SMTP.
#pragma once

#include "net/curl_transfer.h"
#include "notify/message_sender.h"

namespace vistrel {

class Curl_Message_Sender : public Message_Sender {
public:
    Curl_Message_Sender() = default;
    explicit Curl_Message_Sender(Curl_Transfers::Limits limits) : transfers_(limits) {}

    Delivery Send(Notify_Target target, const Notify_Settings& settings,
                  const Episode_Event& event) override;
    void Cancel() noexcept override { transfers_.Cancel(); }

private:
    Delivery Send_Ntfy(const Ntfy_Target& ntfy, const Episode_Event& event);
    Delivery Send_Webhook(const Webhook_Target& webhook, const Episode_Event& event);
    Delivery Send_Telegram(const Telegram_Target& telegram, const Episode_Event& event);
    Delivery Send_Email(const Email_Target& email, const Episode_Event& event);

    Curl_Transfers transfers_;
};

} // namespace vistrel
