#include "notify/notify_settings.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sys/stat.h>

namespace vistrel {
namespace {

// The form other tools rely on, as a fresh program writes it.
const std::string kDefault_Text = "[notify]\n"
                                  "Cooldown_s=60\n"
                                  "On_End=0\n"
                                  "[ntfy]\n"
                                  "Enabled=0\n"
                                  "Server=https://ntfy.sh\n"
                                  "Topic=\n"
                                  "Token=\n"
                                  "[webhook]\n"
                                  "Enabled=0\n"
                                  "URL=\n"
                                  "Token=\n"
                                  "[email]\n"
                                  "Enabled=0\n"
                                  "Server=\n"
                                  "Port=587\n"
                                  "Security=starttls\n"
                                  "Login=\n"
                                  "Password=\n"
                                  "From=\n"
                                  "To=\n"
                                  "[telegram]\n"
                                  "Enabled=0\n"
                                  "Token=\n"
                                  "Chat=\n";

Notify_Settings Everything_Set() {
    Notify_Settings s;
    s.cooldown_s = 0;
    s.on_end = true;
    s.ntfy = {true, "http://127.0.0.1:8080", "AbCdEfGhIj0123456789", "tk_1"};
    s.webhook = {true, "https://hooks.example.org/api/webhook/x?y=1", "secret token"};
    s.email = {true,
               "smtp.example.org",
               465,
               Mail_Security::Tls,
               "me",
               "p=ss;word",
               "cam@example.org",
               "me@example.org"};
    s.telegram = {true, "123456:ABC-DEF", "-100123"};
    return s;
}

TEST(Notify_Settings, DefaultsAreWrittenInTheFixedForm) {
    EXPECT_EQ(Notify_Settings{}.Text(), kDefault_Text);
    EXPECT_EQ(Notify_Settings::Parse(kDefault_Text), Notify_Settings{});
    EXPECT_EQ(Notify_Settings::Parse(""), Notify_Settings{});
}

TEST(Notify_Settings, EveryValueRoundTripsWithEitherLineEnd) {
    const Notify_Settings s = Everything_Set();
    EXPECT_EQ(Notify_Settings::Parse(s.Text()), s);
    std::string crlf;
    for (const char c : s.Text())
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(Notify_Settings::Parse(crlf), s);
}

TEST(Notify_Settings, UnreadableValuesKeepTheirDefaults) {
    struct Case {
        const char* text;
        std::function<bool(const Notify_Settings&)> holds;
    };
    const std::vector<Case> cases = {
        {"[notify]\nCooldown_s=3601\n", [](auto& s) { return s.cooldown_s == 60; }},
        {"[notify]\nCooldown_s=-1\n", [](auto& s) { return s.cooldown_s == 60; }},
        {"[notify]\nCooldown_s=ten\n", [](auto& s) { return s.cooldown_s == 60; }},
        {"[notify]\nCooldown_s=3600\n", [](auto& s) { return s.cooldown_s == 3600; }},
        {"[notify]\nCooldown_s=0\n", [](auto& s) { return s.cooldown_s == 0; }},
        {"[notify]\nOn_End=yes\n", [](auto& s) { return !s.on_end; }},
        {"[email]\nPort=0\n", [](auto& s) { return s.email.port == 587; }},
        {"[email]\nPort=65536\n", [](auto& s) { return s.email.port == 587; }},
        {"[email]\nPort=25\n", [](auto& s) { return s.email.port == 25; }},
        {"[email]\nSecurity=none\n",
         [](auto& s) { return s.email.security == Mail_Security::Starttls; }},
        {"[email]\nSecurity=tls\n", [](auto& s) { return s.email.security == Mail_Security::Tls; }},
        {"[ntfy]\nEnabled=2\n", [](auto& s) { return !s.ntfy.enabled; }},
        {"[NTFY]\nenabled=1\n", [](auto& s) { return s.ntfy.enabled; }},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(c.holds(Notify_Settings::Parse(c.text))) << c.text;
}

TEST(Notify_Settings, AValueCannotAddLinesOfItsOwn) {
    Notify_Settings s;
    s.webhook.token = "abc\n[telegram]\nEnabled=1";
    const Notify_Settings read = Notify_Settings::Parse(s.Text());
    EXPECT_FALSE(read.telegram.enabled);
    EXPECT_EQ(read.webhook.token, "abc [telegram] Enabled=1");
}

TEST(Notify_Settings, TheFileIsTheOwnersAloneEvenWhenItWasNot) {
    test::Temp_Dir dir;
    dir.Write("notify.ini", "[notify]\nCooldown_s=5\n");
    ASSERT_EQ(::chmod(dir.File("notify.ini").c_str(), 0644), 0);
    const Notify_Settings s = Everything_Set();
    s.Save(dir.Folder());
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("notify.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(Notify_Settings::Load(dir.Folder()), s);
    EXPECT_EQ(test::Entries(dir.Path()), std::vector<std::string>{"notify.ini"});
}

TEST(Notify_Settings, AFileWrittenByHandForAllIsMadePrivateWhenRead) {
    test::Temp_Dir dir;
    dir.Write("notify.ini", "[webhook]\nToken=abc\n");
    ASSERT_EQ(::chmod(dir.File("notify.ini").c_str(), 0664), 0);
    EXPECT_EQ(Notify_Settings::Load(dir.Folder()).webhook.token, "abc");
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("notify.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Notify_Settings, AMissingFileGivesTheDefaults) {
    test::Temp_Dir dir;
    EXPECT_EQ(Notify_Settings::Load(dir.Folder()), Notify_Settings{});
    EXPECT_EQ(Notify_Settings::Load(dir.Folder() + "no/such/"), Notify_Settings{});
}

TEST(Notify_Settings, ANewTopicIsTwentyLettersAndDigitsDrawnAtRandom) {
    std::set<std::string> topics;
    for (int i = 0; i < 50; ++i) {
        const std::string topic = New_Ntfy_Topic();
        ASSERT_EQ(topic.size(), 20u);
        for (const char c : topic)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << topic;
        topics.insert(topic);
    }
    EXPECT_EQ(topics.size(), 50u);
    // Every letter and digit can come out.
    uint32_t next = 0;
    std::set<char> seen;
    for (int i = 0; i < 4; ++i)
        for (const char c : New_Ntfy_Topic([&](uint32_t n) { return next++ % n; }))
            seen.insert(c);
    EXPECT_EQ(seen.size(), 62u);
}

} // namespace
} // namespace vistrel
