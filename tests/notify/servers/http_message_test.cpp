// What reaches ntfy, a webhook and Telegram: requests seen by a real HTTP
// server on loopback.
#include "notify/curl_message_sender.h"

#include "notify/servers/sender_test_data.h"
#include "support/notify_servers.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

using test::Picture_On_Disk;
using test::Recording_Http_Server;
using test::Request_Seen;
using Fields = std::map<std::string, std::string>;

// Compares without printing hundreds of kilobytes of binary on a failure.
void Expect_Same_Bytes(const std::string& seen, const std::string& sent, const char* what) {
    EXPECT_EQ(seen.size(), sent.size()) << what;
    EXPECT_TRUE(seen == sent) << what << ": the bytes differ";
}

std::string Header(const Request_Seen& r, const std::string& name) {
    const auto it = r.headers.find(name);
    return it == r.headers.end() ? "(none)" : it->second;
}

bool Plain_Ascii(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

TEST(Ntfy_Sender, PutsThePictureToTheTopicWithItsWordsInHeaders) {
    struct Case {
        const char* name;
        std::string server_suffix; // after http://127.0.0.1:PORT
        std::string token;
        bool end;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"start, no token", "", "", false, "/vistrel_ab12CD34ef56GH78ij"},
        {"end, token, address with a slash", "/", "tk_Secret42", true,
         "/vistrel_ab12CD34ef56GH78ij"},
        {"server under a path", "/ntfy//", "", false, "/ntfy/vistrel_ab12CD34ef56GH78ij"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording_Http_Server server;
        const Picture_On_Disk picture;
        Notify_Settings settings;
        settings.ntfy = {true, server.Base() + c.server_suffix, "vistrel_ab12CD34ef56GH78ij",
                         c.token};
        const Episode_Event event =
            c.end ? test::End_Event(picture.Path()) : test::Start_Event(picture.Path());

        Curl_Message_Sender sender;
        const Delivery d = sender.Send(Notify_Target::Ntfy, settings, event);

        EXPECT_EQ(d.outcome, Delivery::Outcome::Delivered) << d.words;
        const std::vector<Request_Seen> requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        const Request_Seen& r = requests[0];
        EXPECT_EQ(r.method, "PUT");
        EXPECT_EQ(r.path, c.path);
        Expect_Same_Bytes(r.body, picture.bytes, "body");
        EXPECT_EQ(Header(r, "filename"), event.picture_name);
        EXPECT_EQ(Header(r, "title"), "Vistrel");
        // The words hold an em dash: HTTP headers carry them as an encoded word.
        EXPECT_TRUE(Plain_Ascii(Header(r, "message"))) << Header(r, "message");
        EXPECT_EQ(r.decoded.at("message"), Message_Text(event, "ntfy"));
        EXPECT_EQ(Header(r, "authorization"), c.token.empty() ? "(none)" : "Bearer " + c.token);
    }
}

TEST(Webhook_Sender, PostsTheEventAsJsonAndThePictureAsTwoFormParts) {
    struct Case {
        const char* name;
        bool end;
        std::string token;
        Fields json;
    };
    const Fields start_fields = {
        {"event", "\"start\""},
        {"kind", "\"motion\""},
        {"folder", "\"RIDEV_2026_12_10/D0004\""},
        {"picture", "\"I_14_03_22__00012.jpg\""},
        {"time", "\"2026-12-10T14:03:22+01:00\""},
        {"level", "37.5"},
    };
    const Fields end_fields = {
        {"event", "\"end\""},
        {"kind", "\"motion\""},
        {"folder", "\"RIDEV_2026_12_10/D0004\""},
        {"picture", "\"I_14_05_10__00552.jpg\""},
        {"time", "\"2026-12-10T14:05:10+01:00\""},
        {"level", "81.25"},
        {"pictures", "540"},
        {"duration_s", "108.5"},
    };
    const std::vector<Case> cases = {
        {"start", false, "", start_fields},
        {"end, with a token", true, "hook-token-7", end_fields},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording_Http_Server server;
        const Picture_On_Disk picture;
        Notify_Settings settings;
        settings.webhook = {true, server.Base() + "/hooks/vistrel?camera=porch", c.token};
        const Episode_Event event =
            c.end ? test::End_Event(picture.Path()) : test::Start_Event(picture.Path());

        Curl_Message_Sender sender;
        const Delivery d = sender.Send(Notify_Target::Webhook, settings, event);

        EXPECT_EQ(d.outcome, Delivery::Outcome::Delivered) << d.words;
        const std::vector<Request_Seen> requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        const Request_Seen& r = requests[0];
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, "/hooks/vistrel?camera=porch");
        EXPECT_EQ(Header(r, "content-type").rfind("multipart/form-data; boundary=", 0), 0u)
            << Header(r, "content-type");
        EXPECT_EQ(Header(r, "authorization"), c.token.empty() ? "(none)" : "Bearer " + c.token);
        ASSERT_EQ(r.parts.size(), 2u);
        ASSERT_TRUE(r.parts.count("event") && r.parts.count("picture"));
        const test::Form_Part_Seen& json = r.parts.at("event");
        EXPECT_EQ(json.content_type, "application/json");
        EXPECT_EQ(json.filename, "");
        EXPECT_EQ(json.json_error, "") << json.data;
        EXPECT_EQ(json.json, c.json) << json.data;
        const test::Form_Part_Seen& jpeg = r.parts.at("picture");
        EXPECT_EQ(jpeg.content_type, "image/jpeg");
        EXPECT_EQ(jpeg.filename, event.picture_name);
        Expect_Same_Bytes(jpeg.data, picture.bytes, "picture part");
    }
}

TEST(Telegram_Sender, SendsThePhotoToTheBotsAddressWithTheWordsAsCaption) {
    struct Case {
        const char* name;
        std::string api_suffix;
        bool end;
    };
    const std::vector<Case> cases = {
        {"start", "", false},
        {"end, API address with a slash", "/", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording_Http_Server server;
        const test::Scoped_Env api("VISTREL_TELEGRAM_API", server.Base() + c.api_suffix);
        const Picture_On_Disk picture;
        Notify_Settings settings;
        settings.telegram = {true, "123456789:AAE-bot_Token", "-1001234567890"};
        const Episode_Event event =
            c.end ? test::End_Event(picture.Path()) : test::Start_Event(picture.Path());

        Curl_Message_Sender sender;
        const Delivery d = sender.Send(Notify_Target::Telegram, settings, event);

        EXPECT_EQ(d.outcome, Delivery::Outcome::Delivered) << d.words;
        const std::vector<Request_Seen> requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        const Request_Seen& r = requests[0];
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, "/bot123456789:AAE-bot_Token/sendPhoto");
        EXPECT_EQ(Header(r, "authorization"), "(none)");
        ASSERT_EQ(r.parts.size(), 3u);
        ASSERT_TRUE(r.parts.count("chat_id") && r.parts.count("caption") && r.parts.count("photo"));
        EXPECT_EQ(r.parts.at("chat_id").data, "-1001234567890");
        EXPECT_EQ(r.parts.at("caption").data, Message_Text(event, "Telegram"));
        const test::Form_Part_Seen& photo = r.parts.at("photo");
        EXPECT_EQ(photo.filename, event.picture_name);
        EXPECT_EQ(photo.content_type, "image/jpeg");
        Expect_Same_Bytes(photo.data, picture.bytes, "photo part");
    }
}

} // namespace
} // namespace vistrel
