// What comes of a message over HTTP(S): the server's answers, no server, a
// certificate not to trust, a server that never answers, a picture gone.
#include "notify/curl_message_sender.h"

#include "notify/servers/sender_test_data.h"
#include "support/eventually.h"
#include "support/notify_servers.h"
#include "support/test_certificates.h"

#include <gtest/gtest.h>

#include <future>

namespace vistrel {
namespace {

using test::Picture_On_Disk;
using test::Recording_Http_Server;
using Outcome = Delivery::Outcome;
using Clock = std::chrono::steady_clock;

const char* Name_Of(Outcome outcome) {
    switch (outcome) {
    case Outcome::Delivered:
        return "Delivered";
    case Outcome::Retry:
        return "Retry";
    case Outcome::Refused:
        return "Refused";
    case Outcome::Dropped:
        return "Dropped";
    }
    return "?";
}

const char* Name_Of(Notify_Target target) {
    switch (target) {
    case Notify_Target::Ntfy:
        return "ntfy";
    case Notify_Target::Webhook:
        return "webhook";
    case Notify_Target::Telegram:
        return "Telegram";
    case Notify_Target::Email:
        return "e-mail";
    }
    return "?";
}

const std::vector<Notify_Target> kWeb_Targets = {Notify_Target::Ntfy, Notify_Target::Webhook,
                                                 Notify_Target::Telegram};

// Each target's address: `base` + a path of its own that ends in `tag`.
// Telegram's lies in the bot's token, the secret its words must never show.
struct Web_Targets {
    Web_Targets(const std::string& base, const std::string& tag) : api(base) {
        settings.ntfy = {true, base, "topic-" + tag, ""};
        settings.webhook = {true, base + "/hook-" + tag, ""};
        settings.telegram = {true, "4242:Secret" + tag, "77"};
    }
    std::string Path(Notify_Target target) const {
        switch (target) {
        case Notify_Target::Ntfy:
            return "/" + settings.ntfy.topic;
        case Notify_Target::Webhook:
            return settings.webhook.url.substr(api.size());
        default:
            return "/bot" + settings.telegram.token + "/sendPhoto";
        }
    }
    std::string api;
    Notify_Settings settings;
};

TEST(Web_Senders, TheServersAnswerDecidesTheOutcome) {
    struct Case {
        int status;
        std::string body; // "\n" for a line end
        Outcome outcome;
        std::string words;
    };
    const std::vector<Case> cases = {
        {200, "{\"id\":\"x1\"}\\nmore", Outcome::Delivered, "200: {\"id\":\"x1\"}"},
        {201, "created", Outcome::Delivered, "201: created"},
        {204, "", Outcome::Delivered, "204"},
        {400, "bad picture\\nsecond line", Outcome::Refused, "400: bad picture"},
        {401, "unauthorized", Outcome::Refused, "401: unauthorized"},
        {403, "forbidden topic", Outcome::Refused, "403: forbidden topic"},
        {404, "no such hook", Outcome::Refused, "404: no such hook"},
        {408, "took too long", Outcome::Retry, "408: took too long"},
        {429, "slow down\\nretry later", Outcome::Retry, "429: slow down"},
        {500, "oops", Outcome::Retry, "500: oops"},
        {503, "maintenance", Outcome::Retry, "503: maintenance"},
    };
    Recording_Http_Server server;
    const test::Scoped_Env api("VISTREL_TELEGRAM_API", server.Base());
    const Picture_On_Disk picture;
    Curl_Message_Sender sender;
    size_t sent = 0;
    for (const Case& c : cases)
        for (const Notify_Target target : kWeb_Targets) {
            SCOPED_TRACE(std::to_string(c.status) + " to " + Name_Of(target));
            const Web_Targets targets(server.Base(), std::to_string(c.status));
            server.Answer(targets.Path(target), c.status, c.body);

            const Delivery d =
                sender.Send(target, targets.settings, test::Start_Event(picture.Path()));

            EXPECT_STREQ(Name_Of(d.outcome), Name_Of(c.outcome));
            EXPECT_EQ(d.words, c.words);
            ASSERT_EQ(server.Requests().size(), ++sent);
            EXPECT_EQ(server.Requests().back().path, targets.Path(target));
        }
}

TEST(Web_Senders, NoServerListeningIsTriedAgainAndTheSenderGoesOnAfterwards) {
    Recording_Http_Server gone;
    const std::string gone_base = gone.Base();
    gone.Stop();
    Recording_Http_Server back;
    const Picture_On_Disk picture;
    Curl_Message_Sender sender;
    for (const Notify_Target target : kWeb_Targets) {
        SCOPED_TRACE(Name_Of(target));
        {
            const Web_Targets targets(gone_base, "gone");
            const test::Scoped_Env api("VISTREL_TELEGRAM_API", targets.api);
            const auto start = Clock::now();
            const Delivery d =
                sender.Send(target, targets.settings, test::Start_Event(picture.Path()));
            // The connection is refused at once: well within the 10 s allowed.
            EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
            EXPECT_STREQ(Name_Of(d.outcome), "Retry");
            EXPECT_FALSE(d.words.empty());
            EXPECT_EQ(d.words.find("Secret"), std::string::npos) << d.words;
        }
        const Web_Targets targets(back.Base(), "back");
        const test::Scoped_Env api("VISTREL_TELEGRAM_API", targets.api);
        const Delivery d = sender.Send(target, targets.settings, test::Start_Event(picture.Path()));
        EXPECT_STREQ(Name_Of(d.outcome), "Delivered") << d.words;
    }
    EXPECT_EQ(back.Requests().size(), kWeb_Targets.size());
}

TEST(Web_Senders, HttpsGoesOnlyToAServerWhoseCertificateTheSystemTrusts) {
    test::Temp_Dir dir;
    const test::Test_Certificate authority =
        test::Test_Certificate::Authority("Vistrel test authority");
    const test::Test_Certificate stranger =
        test::Test_Certificate::Authority("Someone else's authority");
    authority.Write_Certificate(dir.Path() / "authority.pem");
    std::filesystem::create_directories(dir.Path() / "no-certificates");
    const test::Scoped_Env store("SSL_CERT_FILE", dir.File("authority.pem"));
    const test::Scoped_Env no_dir("SSL_CERT_DIR", dir.File("no-certificates"));

    struct Case {
        const char* name;
        test::Test_Certificate certificate;
        Outcome outcome;
    };
    Case cases[] = {
        {"trusted", {"localhost", test::Loopback_Names(), authority}, Outcome::Delivered},
        {"signed by another", {"localhost", test::Loopback_Names(), stranger}, Outcome::Retry},
        {"self-signed", {"localhost", test::Loopback_Names()}, Outcome::Retry},
        {"for another name", {"camera.example", {"DNS:camera.example"}, authority}, Outcome::Retry},
        {"expired",
         {"localhost",
          test::Loopback_Names(),
          authority,
          {std::chrono::hours(-48), std::chrono::hours(-1)}},
         Outcome::Retry},
    };
    const Picture_On_Disk picture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.certificate.Write_With_Key(dir.Path() / "server.pem");
        Recording_Http_Server server(dir.File("server.pem"));
        const test::Scoped_Env api("VISTREL_TELEGRAM_API", server.Base());
        Curl_Message_Sender sender;
        for (const Notify_Target target : kWeb_Targets) {
            SCOPED_TRACE(Name_Of(target));
            const Web_Targets targets(server.Base(), "tls");
            const Delivery d =
                sender.Send(target, targets.settings, test::Start_Event(picture.Path()));
            EXPECT_STREQ(Name_Of(d.outcome), Name_Of(c.outcome)) << d.words;
            EXPECT_EQ(d.words.find("Secret"), std::string::npos) << d.words;
        }
        EXPECT_EQ(server.Requests().size(), c.outcome == Outcome::Delivered ? 3u : 0u);
    }
}

TEST(Web_Senders, CancelEndsASendToAServerThatNeverAnswersAndEveryLaterOne) {
    const Picture_On_Disk picture;
    for (const Notify_Target target : kWeb_Targets) {
        SCOPED_TRACE(Name_Of(target));
        Recording_Http_Server server;
        const test::Scoped_Env api("VISTREL_TELEGRAM_API", server.Base());
        const Web_Targets targets(server.Base(), "hang");
        server.Hang(targets.Path(target));
        Curl_Message_Sender sender;

        auto sending = std::async(std::launch::async, [&] {
            return sender.Send(target, targets.settings, test::Start_Event(picture.Path()));
        });
        // Under way for sure: the server has the whole request.
        ASSERT_TRUE(test::Eventually([&] { return server.Requests().size() == 1; },
                                     std::chrono::seconds(10)));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(sending.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
            << "the send ended before the server answered";
        sender.Cancel();
        // Loosely: a cancelled send ends at once, a forgotten cancel in 60 s.
        ASSERT_EQ(sending.wait_for(std::chrono::seconds(2)), std::future_status::ready);
        const Delivery d = sending.get();
        EXPECT_STREQ(Name_Of(d.outcome), "Retry");
        EXPECT_FALSE(d.words.empty());

        server.Answer(targets.Path(target), 200, "ok");
        const Delivery later =
            sender.Send(target, targets.settings, test::Start_Event(picture.Path()));
        EXPECT_STREQ(Name_Of(later.outcome), "Retry");
        EXPECT_EQ(server.Requests().size(), 1u);
    }
}

TEST(Web_Senders, AServerThatNeverAnswersIsGivenUpAfterTheTimeLimit) {
    Recording_Http_Server server;
    const Web_Targets targets(server.Base(), "slow");
    server.Hang(targets.Path(Notify_Target::Ntfy));
    const Picture_On_Disk picture;
    Curl_Message_Sender sender(
        Curl_Transfers::Limits{std::chrono::seconds(5), std::chrono::seconds(1)});

    const auto start = Clock::now();
    const Delivery d =
        sender.Send(Notify_Target::Ntfy, targets.settings, test::Start_Event(picture.Path()));

    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_STREQ(Name_Of(d.outcome), "Retry");
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(Web_Senders, NothingGoesWithoutItsPictureOrWithSettingsThatCannotWork) {
    Recording_Http_Server server;
    const test::Scoped_Env api("VISTREL_TELEGRAM_API", server.Base());
    const Picture_On_Disk picture;
    const std::string port = server.Base().substr(server.Base().rfind(':'));
    struct Case {
        const char* name;
        Notify_Target target;
        std::function<void(Notify_Settings&)> change;
        bool picture_gone;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"ntfy, picture gone", Notify_Target::Ntfy, [](Notify_Settings&) {}, true,
         Outcome::Dropped},
        {"webhook, picture gone", Notify_Target::Webhook, [](Notify_Settings&) {}, true,
         Outcome::Dropped},
        {"Telegram, picture gone", Notify_Target::Telegram, [](Notify_Settings&) {}, true,
         Outcome::Dropped},
        {"ntfy without a topic", Notify_Target::Ntfy,
         [](Notify_Settings& s) { s.ntfy.topic.clear(); }, false, Outcome::Refused},
        {"ntfy over FTP", Notify_Target::Ntfy,
         [&](Notify_Settings& s) { s.ntfy.server = "ftp://127.0.0.1" + port; }, false,
         Outcome::Refused},
        {"webhook without a scheme", Notify_Target::Webhook,
         [&](Notify_Settings& s) { s.webhook.url = "127.0.0.1" + port + "/hook"; }, false,
         Outcome::Refused},
        {"Telegram without a chat", Notify_Target::Telegram,
         [](Notify_Settings& s) { s.telegram.chat.clear(); }, false, Outcome::Refused},
        {"Telegram without a token", Notify_Target::Telegram,
         [](Notify_Settings& s) { s.telegram.token.clear(); }, false, Outcome::Refused},
    };
    Curl_Message_Sender sender;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Web_Targets targets(server.Base(), "never");
        c.change(targets.settings);
        Episode_Event event = test::Start_Event(picture.Path());
        if (c.picture_gone)
            event.picture_path = picture.dir.File("I_14_03_22__00099.jpg");

        const Delivery d = sender.Send(c.target, targets.settings, event);

        EXPECT_STREQ(Name_Of(d.outcome), Name_Of(c.outcome));
        EXPECT_FALSE(d.words.empty());
    }
    EXPECT_EQ(server.Requests().size(), 0u);
}

} // namespace
} // namespace vistrel
