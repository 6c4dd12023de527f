#include "notify/curl_message_sender.h"

#include <filesystem>
#include <system_error>

namespace vistrel {

namespace {

Delivery Failed(const Transfer_Error& e) {
    Delivery d;
    d.words = e.what();
    switch (e.kind()) {
    case Transfer_Error::Kind::Refused:
    case Transfer_Error::Kind::Unsupported:
        d.outcome = Delivery::Outcome::Refused;
        break;
    case Transfer_Error::Kind::Network:
    case Transfer_Error::Kind::Cancelled:
        d.outcome = Delivery::Outcome::Retry;
        break;
    }
    return d;
}

std::vector<Http_Header> Bearer(const std::string& token) {
    if (token.empty())
        return {};
    return {{"Authorization", "Bearer " + token}};
}

bool Is_Web_Address(const std::string& url) {
    return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

} // namespace

Delivery Curl_Message_Sender::Send(Notify_Target target, const Notify_Settings& settings,
                                   const Episode_Event& event) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(event.picture_path, ec))
        return {Delivery::Outcome::Dropped, "the picture " + event.picture_name + " is gone"};
    try {
        switch (target) {
        case Notify_Target::Ntfy:
            return Send_Ntfy(settings.ntfy, event);
        case Notify_Target::Webhook:
            return Send_Webhook(settings.webhook, event);
        case Notify_Target::Email:
            return Send_Email(settings.email, event);
        case Notify_Target::Telegram:
            return Send_Telegram(settings.telegram, event);
        }
    } catch (const Transfer_Error& e) {
        return Failed(e);
    } catch (const std::exception& e) {
        return {Delivery::Outcome::Retry, e.what()};
    }
    return {Delivery::Outcome::Refused, "no such target"};
}

Delivery Curl_Message_Sender::Send_Ntfy(const Ntfy_Target& ntfy, const Episode_Event& event) {
    if (ntfy.topic.empty() || !Is_Web_Address(ntfy.server))
        return {Delivery::Outcome::Refused,
                "the ntfy server must start with http:// or https:// and the topic be set"};
    std::vector<Http_Header> headers = Bearer(ntfy.token);
    headers.push_back({"Filename", event.picture_name});
    headers.push_back({"Title", "Vistrel"});
    headers.push_back({"Message", Encoded_Word(Message_Text(event, "ntfy"))});
    const Http_Answer answer =
        transfers_.Put_File(Ntfy_Topic_Address(ntfy), headers, event.picture_path);
    return Delivery_Of_Answer(answer.status, answer.body);
}

Delivery Curl_Message_Sender::Send_Webhook(const Webhook_Target& webhook,
                                           const Episode_Event& event) {
    if (!Is_Web_Address(webhook.url))
        return {Delivery::Outcome::Refused,
                "the webhook address must start with http:// or https://"};
    const std::vector<Form_Part> parts = {
        {"event", "application/json", Webhook_Json(event), "", ""},
        {"picture", "image/jpeg", "", event.picture_path, event.picture_name},
    };
    const Http_Answer answer = transfers_.Post_Form(webhook.url, Bearer(webhook.token), parts);
    return Delivery_Of_Answer(answer.status, answer.body);
}

Delivery Curl_Message_Sender::Send_Telegram(const Telegram_Target& telegram,
                                            const Episode_Event& event) {
    if (telegram.token.empty() || telegram.chat.empty())
        return {Delivery::Outcome::Refused, "the bot token and the chat id must be set"};
    const std::vector<Form_Part> parts = {
        {"chat_id", "", telegram.chat, "", ""},
        {"caption", "", Message_Text(event, "Telegram"), "", ""},
        {"photo", "image/jpeg", "", event.picture_path, event.picture_name},
    };
    const Http_Answer answer = transfers_.Post_Form(
        Telegram_Api_Base() + "/bot" + telegram.token + "/sendPhoto", {}, parts);
    return Delivery_Of_Answer(answer.status, answer.body);
}

Delivery Curl_Message_Sender::Send_Email(const Email_Target& email, const Episode_Event& event) {
    if (email.server.empty() || email.from.empty() || email.to.empty())
        return {Delivery::Outcome::Refused, "the server, the sender and the recipient must be set"};
    Mail_Request mail;
    mail.server = email.server;
    mail.port = email.port;
    mail.security =
        email.security == Mail_Security::Tls ? Smtp_Security::Tls : Smtp_Security::Starttls;
    mail.login = email.login;
    mail.password = email.password;
    mail.from = email.from;
    mail.to = email.to;
    mail.subject = Message_Text(event, "e-mail");
    mail.text = mail.subject + "\r\n";
    mail.attachment_path = event.picture_path;
    mail.attachment_name = event.picture_name;
    transfers_.Send_Mail(mail);
    return {Delivery::Outcome::Delivered, "sent"};
}

} // namespace vistrel
