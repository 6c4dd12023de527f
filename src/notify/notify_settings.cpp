#include "notify/notify_settings.h"

#include "base/file_helpers.h"
#include "settings/ini_document.h"

#include <algorithm>
#include <charconv>
#include <random>
#include <sys/stat.h>

namespace vistrel {

namespace {

// Section, key and the text of one value, in the file's fixed order.
struct Line {
    const char* section;
    const char* key;
    std::string value;
};

std::string Flag(bool on) {
    return on ? "1" : "0";
}

std::vector<Line> Lines_Of(const Notify_Settings& s) {
    return {
        {"notify", "Cooldown_s", std::to_string(s.cooldown_s)},
        {"notify", "On_End", Flag(s.on_end)},
        {"ntfy", "Enabled", Flag(s.ntfy.enabled)},
        {"ntfy", "Server", s.ntfy.server},
        {"ntfy", "Topic", s.ntfy.topic},
        {"ntfy", "Token", s.ntfy.token},
        {"webhook", "Enabled", Flag(s.webhook.enabled)},
        {"webhook", "URL", s.webhook.url},
        {"webhook", "Token", s.webhook.token},
        {"email", "Enabled", Flag(s.email.enabled)},
        {"email", "Server", s.email.server},
        {"email", "Port", std::to_string(s.email.port)},
        {"email", "Security", Security_Name(s.email.security)},
        {"email", "Login", s.email.login},
        {"email", "Password", s.email.password},
        {"email", "From", s.email.from},
        {"email", "To", s.email.to},
        {"telegram", "Enabled", Flag(s.telegram.enabled)},
        {"telegram", "Token", s.telegram.token},
        {"telegram", "Chat", s.telegram.chat},
    };
}

// A value is one line: a line break in it would add lines of its own.
std::string One_Line(std::string value) {
    std::replace(value.begin(), value.end(), '\r', ' ');
    std::replace(value.begin(), value.end(), '\n', ' ');
    return value;
}

std::optional<int> Number(const std::optional<std::string>& text, int lowest, int highest) {
    if (!text)
        return std::nullopt;
    int value = 0;
    const auto end = std::from_chars(text->data(), text->data() + text->size(), value);
    if (text->empty() || end.ec != std::errc() || end.ptr != text->data() + text->size() ||
        value < lowest || value > highest)
        return std::nullopt;
    return value;
}

void Read_Flag(const Ini_Document& file, const char* section, const char* key, bool& flag) {
    if (const auto value = file.Value(section, key); value == "0" || value == "1")
        flag = *value == "1";
}

void Read_Text(const Ini_Document& file, const char* section, const char* key, std::string& text) {
    if (auto value = file.Value(section, key))
        text = std::move(*value);
}

} // namespace

std::string Security_Name(Mail_Security security) {
    return security == Mail_Security::Tls ? "tls" : "starttls";
}

std::string Notify_Settings::Text() const {
    std::string text;
    std::string section;
    for (const Line& line : Lines_Of(*this)) {
        if (line.section != section) {
            section = line.section;
            text += "[" + section + "]\n";
        }
        text += std::string(line.key) + "=" + One_Line(line.value) + "\n";
    }
    return text;
}

Notify_Settings Notify_Settings::Parse(const std::string& text) {
    Notify_Settings s;
    const Ini_Document file = Ini_Document::Parse(text);
    s.cooldown_s = Number(file.Value("notify", "Cooldown_s"), 0, kMost_Cooldown_s)
                       .value_or(kDefault_Cooldown_s);
    Read_Flag(file, "notify", "On_End", s.on_end);
    Read_Flag(file, "ntfy", "Enabled", s.ntfy.enabled);
    Read_Text(file, "ntfy", "Server", s.ntfy.server);
    Read_Text(file, "ntfy", "Topic", s.ntfy.topic);
    Read_Text(file, "ntfy", "Token", s.ntfy.token);
    Read_Flag(file, "webhook", "Enabled", s.webhook.enabled);
    Read_Text(file, "webhook", "URL", s.webhook.url);
    Read_Text(file, "webhook", "Token", s.webhook.token);
    Read_Flag(file, "email", "Enabled", s.email.enabled);
    Read_Text(file, "email", "Server", s.email.server);
    s.email.port = Number(file.Value("email", "Port"), 1, 65535).value_or(s.email.port);
    if (const auto security = file.Value("email", "Security"))
        s.email.security = *security == "tls" ? Mail_Security::Tls : Mail_Security::Starttls;
    Read_Text(file, "email", "Login", s.email.login);
    Read_Text(file, "email", "Password", s.email.password);
    Read_Text(file, "email", "From", s.email.from);
    Read_Text(file, "email", "To", s.email.to);
    Read_Flag(file, "telegram", "Enabled", s.telegram.enabled);
    Read_Text(file, "telegram", "Token", s.telegram.token);
    Read_Text(file, "telegram", "Chat", s.telegram.chat);
    return s;
}

Notify_Settings Notify_Settings::Load(const std::string& data_folder) noexcept {
    try {
        // The file holds passwords and tokens: one written by hand readable
        // by others is made the owner's alone.
        const std::string path = data_folder + kFile_Name;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
            ::chmod(path.c_str(), st.st_mode & 0700);
        return Parse(Read_Whole_File(data_folder + kFile_Name).value_or(""));
    } catch (...) {
        return Notify_Settings{};
    }
}

void Notify_Settings::Save(const std::string& data_folder) const {
    Write_Private_File(data_folder + kFile_Name, Text());
}

std::string New_Ntfy_Topic(const std::function<uint32_t(uint32_t)>& random_below) {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    constexpr uint32_t kLetters = sizeof kAlphabet - 1;
    std::random_device device;
    std::string topic;
    for (int i = 0; i < 20; ++i) {
        const uint32_t pick =
            random_below ? random_below(kLetters)
                         : std::uniform_int_distribution<uint32_t>(0, kLetters - 1)(device);
        topic += kAlphabet[pick % kLetters];
    }
    return topic;
}

} // namespace vistrel
