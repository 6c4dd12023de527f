// Where messages about episodes go, kept in "notify.ini" in the data folder,
// readable by its owner alone: it holds passwords and tokens, which never go
// into datas.ini.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vistrel {

struct Ntfy_Target {
    bool enabled = false;
    std::string server = "https://ntfy.sh";
    std::string topic;
    std::string token;
    bool operator==(const Ntfy_Target&) const = default;
};

struct Webhook_Target {
    bool enabled = false;
    std::string url;
    std::string token;
    bool operator==(const Webhook_Target&) const = default;
};

enum class Mail_Security { Starttls, Tls };

struct Email_Target {
    bool enabled = false;
    std::string server;
    int port = 587;
    Mail_Security security = Mail_Security::Starttls;
    std::string login;
    std::string password;
    std::string from;
    std::string to;
    bool operator==(const Email_Target&) const = default;
};

struct Telegram_Target {
    bool enabled = false;
    std::string token;
    std::string chat;
    bool operator==(const Telegram_Target&) const = default;
};

struct Notify_Settings {
    static constexpr const char* kFile_Name = "notify.ini";
    static constexpr int kDefault_Cooldown_s = 60;
    static constexpr int kMost_Cooldown_s = 3600;

    int cooldown_s = kDefault_Cooldown_s; // one for all targets
    bool on_end = false;                  // also when a motion episode ends
    Ntfy_Target ntfy;
    Webhook_Target webhook;
    Email_Target email;
    Telegram_Target telegram;

    bool operator==(const Notify_Settings&) const = default;

    bool Any_Enabled() const {
        return ntfy.enabled || webhook.enabled || email.enabled || telegram.enabled;
    }

    // The file's text in its fixed form, LF line ends.
    std::string Text() const;
    // LF or CR LF; a value that cannot be read keeps its default.
    static Notify_Settings Parse(const std::string& text);

    // The defaults for a missing or unreadable file. A file readable by
    // others is made the owner's alone.
    static Notify_Settings Load(const std::string& data_folder) noexcept;
    // Replaces the file in one step, mode 0600 whatever it had. Throws
    // std::system_error.
    void Save(const std::string& data_folder) const;
};

// "starttls" or "tls".
std::string Security_Name(Mail_Security security);

// A topic nobody guesses: 20 letters and digits. `random_below(n)` gives a
// number in [0, n); the default draws from the system's random source.
std::string New_Ntfy_Topic(const std::function<uint32_t(uint32_t)>& random_below = {});

} // namespace vistrel
