// E-mails about episodes to a real SMTP server on loopback (aiosmtpd), and
// the two rules they rest on: encoded words and which hosts are this machine.
#include "notify/curl_message_sender.h"

#include "notify/servers/sender_test_data.h"
#include "support/notify_servers.h"
#include "support/test_certificates.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

namespace vistrel {
namespace {

using test::Mail_Seen;
using test::Picture_On_Disk;
using test::Recording_Smtp_Server;
using Security = Recording_Smtp_Server::Security;
using Outcome = Delivery::Outcome;

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

// A trust store of the test's own authority, and server certificates it
// signed for the loopback names and for "mail.localhost".
//
// "mail.localhost" is how a remote server looks on loopback: libcurl resolves
// every *.localhost name to this machine without asking DNS, while the sender
// treats it as any other host and so insists on TLS.
class Mail_Trust {
public:
    Mail_Trust()
        : store_("SSL_CERT_FILE", dir.File("authority.pem")),
          no_dir_("SSL_CERT_DIR", dir.File("no-certificates")) {
        authority_.Write_Certificate(dir.Path() / "authority.pem");
        std::filesystem::create_directories(dir.Path() / "no-certificates");
        test::Test_Certificate server(
            "mail.localhost", {"DNS:mail.localhost", "DNS:localhost", "IP:127.0.0.1"}, authority_);
        server.Write_With_Key(dir.Path() / "server.pem");
        test::Test_Certificate("mail.localhost", {"DNS:mail.localhost"})
            .Write_With_Key(dir.Path() / "self-signed.pem");
    }
    std::string Server_Pem() const { return dir.File("server.pem"); }
    std::string Self_Signed_Pem() const { return dir.File("self-signed.pem"); }

    test::Temp_Dir dir;

private:
    test::Test_Certificate authority_ = test::Test_Certificate::Authority("Vistrel mail test");
    test::Scoped_Env store_;
    test::Scoped_Env no_dir_;
};

Notify_Settings Mail_Settings(const std::string& host, uint16_t port, Mail_Security security,
                              const std::string& login, const std::string& password) {
    Notify_Settings s;
    s.email = {
        true, host, port, security, login, password, "camera@porch.example", "owner@home.example"};
    return s;
}

TEST(Mail_Sender, SendsTheWordsAndThePictureOverTlsWithTheLogin) {
    struct Case {
        const char* name;
        Security server_security;
        Mail_Security security;
        std::string host;
        std::string mechanism;
        bool end;
    };
    const std::vector<Case> cases = {
        {"STARTTLS, PLAIN", Security::Starttls, Mail_Security::Starttls, "mail.localhost", "PLAIN",
         false},
        {"STARTTLS, LOGIN, end", Security::Starttls, Mail_Security::Starttls, "mail.localhost",
         "LOGIN", true},
        {"STARTTLS to this machine", Security::Starttls, Mail_Security::Starttls, "127.0.0.1", "",
         false},
        {"TLS from the start", Security::Tls, Mail_Security::Tls, "mail.localhost", "", false},
    };
    const Mail_Trust trust;
    const Picture_On_Disk picture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording_Smtp_Server server(c.server_security, trust.Server_Pem(),
                                     "camera@porch.example:pa ss\xc3\xa9", c.mechanism);
        const Episode_Event event =
            c.end ? test::End_Event(picture.Path()) : test::Start_Event(picture.Path());
        Curl_Message_Sender sender;

        const Delivery d = sender.Send(Notify_Target::Email,
                                       Mail_Settings(c.host, server.Port(), c.security,
                                                     "camera@porch.example", "pa ss\xc3\xa9"),
                                       event);

        EXPECT_STREQ(Name_Of(d.outcome), "Delivered") << d.words;
        const std::vector<Mail_Seen> mails = server.Mails();
        ASSERT_EQ(mails.size(), 1u);
        const Mail_Seen& m = mails[0];
        EXPECT_TRUE(m.tls);
        EXPECT_EQ(m.login, "camera@porch.example");
        if (!c.mechanism.empty()) {
            EXPECT_EQ(m.mechanism, c.mechanism);
        }
        EXPECT_EQ(m.envelope_from, "camera@porch.example");
        EXPECT_EQ(m.envelope_to, "owner@home.example");
        EXPECT_NE(m.from.find("camera@porch.example"), std::string::npos) << m.from;
        EXPECT_NE(m.to.find("owner@home.example"), std::string::npos) << m.to;
        EXPECT_FALSE(m.date.empty());
        EXPECT_EQ(m.subject, Message_Text(event, "e-mail"));
        EXPECT_NE(m.text.find(Message_Text(event, "e-mail")), std::string::npos) << m.text;
        ASSERT_EQ(m.attachments.size(), 1u);
        ASSERT_TRUE(m.attachments.count(event.picture_name));
        EXPECT_EQ(m.attachment_types.at(event.picture_name), "image/jpeg");
        const std::string& bytes = m.attachments.at(event.picture_name);
        EXPECT_EQ(bytes.size(), picture.bytes.size());
        EXPECT_TRUE(bytes == picture.bytes) << "the attachment's bytes differ";
    }
}

TEST(Mail_Sender, ARefusedLoginIsRefusedForGood) {
    const Mail_Trust trust;
    const Picture_On_Disk picture;
    for (const char* mechanism : {"PLAIN", "LOGIN"}) {
        SCOPED_TRACE(mechanism);
        Recording_Smtp_Server server(Security::Starttls, trust.Server_Pem(), "camera:right",
                                     mechanism);
        Curl_Message_Sender sender;
        const Delivery d = sender.Send(Notify_Target::Email,
                                       Mail_Settings("mail.localhost", server.Port(),
                                                     Mail_Security::Starttls, "camera", "wrong"),
                                       test::Start_Event(picture.Path()));
        EXPECT_STREQ(Name_Of(d.outcome), "Refused") << d.words;
        EXPECT_EQ(d.words.find("wrong"), std::string::npos) << d.words;
        EXPECT_EQ(server.Mails().size(), 0u);
    }
}

TEST(Mail_Sender, GoesInClearTextOnlyToThisMachine) {
    const Mail_Trust trust;
    const Picture_On_Disk picture;
    struct Case {
        const char* name;
        Security server_security;
        std::string pem;
        std::string host;
        const char* outcome; // null: any but Delivered
    };
    const std::vector<Case> cases = {
        {"no STARTTLS, this machine", Security::None, "", "127.0.0.1", "Delivered"},
        {"no STARTTLS, another host", Security::None, "", "mail.localhost", nullptr},
        {"certificate not trusted", Security::Starttls, trust.Self_Signed_Pem(), "mail.localhost",
         "Retry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording_Smtp_Server server(c.server_security, c.pem);
        Curl_Message_Sender sender;
        const Episode_Event event = test::Start_Event(picture.Path());
        const Delivery d = sender.Send(
            Notify_Target::Email,
            Mail_Settings(c.host, server.Port(), Mail_Security::Starttls, "", ""), event);

        const bool delivered = d.outcome == Outcome::Delivered;
        if (c.outcome != nullptr)
            EXPECT_STREQ(Name_Of(d.outcome), c.outcome) << d.words;
        else
            EXPECT_FALSE(delivered) << d.words;
        const std::vector<Mail_Seen> mails = server.Mails();
        ASSERT_EQ(mails.size(), delivered ? 1u : 0u);
        if (delivered) {
            EXPECT_FALSE(mails[0].tls);
            EXPECT_EQ(mails[0].subject, Message_Text(event, "e-mail"));
            EXPECT_TRUE(mails[0].attachments.count(event.picture_name) &&
                        mails[0].attachments.at(event.picture_name) == picture.bytes);
        }
    }
}

TEST(Mail_Sender, NoMailWithoutItsPictureOrWithoutAnAddress) {
    const Picture_On_Disk picture;
    Recording_Smtp_Server server(Security::None, "");
    struct Case {
        const char* name;
        std::function<void(Notify_Settings&, Episode_Event&)> change;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"picture gone",
         [&](Notify_Settings&, Episode_Event& e) { e.picture_path = picture.dir.File("gone.jpg"); },
         Outcome::Dropped},
        {"no server", [](Notify_Settings& s, Episode_Event&) { s.email.server.clear(); },
         Outcome::Refused},
        {"no sender", [](Notify_Settings& s, Episode_Event&) { s.email.from.clear(); },
         Outcome::Refused},
        {"no recipient", [](Notify_Settings& s, Episode_Event&) { s.email.to.clear(); },
         Outcome::Refused},
    };
    Curl_Message_Sender sender;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Notify_Settings settings =
            Mail_Settings("127.0.0.1", server.Port(), Mail_Security::Starttls, "", "");
        Episode_Event event = test::Start_Event(picture.Path());
        c.change(settings, event);
        const Delivery d = sender.Send(Notify_Target::Email, settings, event);
        EXPECT_STREQ(Name_Of(d.outcome), Name_Of(c.outcome)) << d.words;
    }
    EXPECT_EQ(server.Mails().size(), 0u);
}

// Whether `bytes` is UTF-8 that neither starts nor ends inside a character.
bool Whole_Utf8(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead < 0x80    ? 1
                              : lead >= 0xf0 ? 4
                              : lead >= 0xe0 ? 3
                              : lead >= 0xc0 ? 2
                                             : 0;
        if (length == 0 || i + length > bytes.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xc0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// RFC 2047's B encoding undone with OpenSSL's own decoder, word by word;
// the words of one value are separated by spaces and read as one text.
std::string Decoded_Words(const std::string& value) {
    const std::string head = "=?UTF-8?B?";
    std::string text;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(' ', start);
        if (end == std::string::npos)
            end = value.size();
        const std::string word = value.substr(start, end - start);
        start = end + 1;
        if (word.size() > 75)
            return "(a word longer than 75: " + word + ")";
        if (word.rfind(head, 0) != 0 || word.size() < head.size() + 2 ||
            word.compare(word.size() - 2, 2, "?=") != 0)
            return "(not an encoded word: " + word + ")";
        const std::string b64 = word.substr(head.size(), word.size() - head.size() - 2);
        std::string bytes(b64.size(), '\0');
        const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                      reinterpret_cast<const unsigned char*>(b64.data()),
                                      static_cast<int>(b64.size()));
        if (n < 0)
            return "(bad base64: " + b64 + ")";
        const size_t padding = b64.size() - b64.find_last_not_of('=') - 1;
        bytes.resize(static_cast<size_t>(n) - padding);
        // Each word holds whole characters, as decoders read words one by one.
        if (!Whole_Utf8(bytes))
            return "(a word cuts a character: " + word + ")";
        text += bytes;
    }
    return text;
}

TEST(Encoded_Word, PlainAsciiStaysAndTheRestIsEncodedToDecodeBack) {
    const std::string long_end_message =
        "Motion ended at 14:05:10 \u2014 RIDEV_2026_12_10/D0004: 1 min 49 s, 540 pictures, "
        "highest level 81 %";
    std::string accents;
    for (int i = 0; i < 40; ++i)
        accents += "\u00e9\u20ac\U0001F4F7";
    struct Case {
        std::string text;
        bool encoded;
    };
    const std::vector<Case> cases = {
        {"", false},
        {"Motion at 14:03:22 - RIDEV_2026_12_10/D0004", false},
        {"Motion at 14:03:22 \u2014 RIDEV_2026_12_10/D0004", true},
        {"\xc3\xa9", true},
        {"a", false},
        {"line\r\nInjected: header", true},
        {"Bewegung um 14:03 \u2014 K\xc3\xbc"
         "che, 3 \xe2\x82\xac",
         true},
        // Longer than one word may hold.
        {long_end_message, true},
        {accents, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string value = Encoded_Word(c.text);
        if (!c.encoded) {
            EXPECT_EQ(value, c.text);
            continue;
        }
        for (const char ch : value)
            EXPECT_TRUE(static_cast<unsigned char>(ch) >= 0x20 &&
                        static_cast<unsigned char>(ch) < 0x7f)
                << value;
        EXPECT_EQ(Decoded_Words(value), c.text);
    }
}

TEST(Loopback_Host, OnlyThisMachinesNamesAndAddresses) {
    struct Case {
        std::string host;
        bool loopback;
    };
    const std::vector<Case> cases = {
        {"localhost", true},
        {"127.0.0.1", true},
        {"127.255.3.9", true},
        {"127.0.0.0", true},
        {"::1", true},
        {"[::1]", true},
        {"128.0.0.1", false},
        {"126.255.255.255", false},
        {"10.0.0.1", false},
        {"192.168.1.127", false},
        {"example.org", false},
        {"localhost.example.org", false},
        {"127.0.0.1.example.org", false},
        {"::2", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Is_Loopback_Host(c.host), c.loopback) << c.host;
}

} // namespace
} // namespace vistrel
