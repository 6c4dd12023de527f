#include "upload/connection_test.h"

#include "support/fake_ftp_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

using Calls = std::vector<std::string>;

class ConnectionTest : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    test::Fake_Session session;
    Working_Settings settings;

    void SetUp() override {
        settings.FTP_Server = "ftp.test";
        settings.FTP_Login = "cam";
        settings.FTP_Password = "s3cret";
        dir.Write("datas.ini", "[string]\r\nEDT_FTP_Login=cam\r\nEDT_FTP_Password=s3cret\r\n"
                               "[integer]\r\nCKB_Use_FTP=1\r\n");
    }
};

TEST_F(ConnectionTest, FreshConnectionAppendsTheSettingsWithoutThePassword) {
    EXPECT_TRUE(Run_Connection_Test(session, settings, dir.File("datas.ini")));
    EXPECT_EQ(session.calls,
              (Calls{"server ftp.test", "user cam", "CONNECT", "LOGIN", "APPE datas.ini"}));
    EXPECT_EQ(
        session.put_content,
        "[string]\r\nEDT_FTP_Login=cam\r\nEDT_FTP_Password=\r\n[integer]\r\nCKB_Use_FTP=1\r\n");
    EXPECT_EQ(test::Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
}

TEST_F(ConnectionTest, AnOpenConnectionIsReplaced) {
    session.connected = session.logged_in = true;
    Run_Connection_Test(session, settings, dir.File("datas.ini"));
    EXPECT_EQ(Calls(session.calls.begin() + 2, session.calls.begin() + 5),
              (Calls{"ABOR", "QUIT", "CONNECT"}));
}

TEST_F(ConnectionTest, FailuresCarryTheirMessage) {
    session.refuse_login = true;
    try {
        Run_Connection_Test(session, settings, dir.File("datas.ini"));
        FAIL() << "a refused login must fail the test";
    } catch (const FTP_Error& e) {
        EXPECT_STREQ(e.what(), "Login incorrect.");
    }
    EXPECT_TRUE(session.connected) << "connected but not logged in";

    session.refuse_login = false;
    EXPECT_THROW(Run_Connection_Test(session, settings, dir.File("missing.ini")),
                 std::runtime_error);
    EXPECT_EQ(std::count(session.calls.begin(), session.calls.end(), "APPE datas.ini"), 0);
}

TEST(SettingsCopy, BlanksOnlyThePasswordValue) {
    const std::pair<std::string, std::string> cases[] = {
        {"[string]\r\nEDT_FTP_Password=abc\r\n", "[string]\r\nEDT_FTP_Password=\r\n"},
        {"[string]\nedt_ftp_password = a b c\nX=1", "[string]\nedt_ftp_password =\nX=1"},
        {"[String]\r\n  EDT_FTP_Password=x\r", "[String]\r\n  EDT_FTP_Password=\r"},
        {"[integer]\r\nEDT_FTP_Password=7\r\n", "[integer]\r\nEDT_FTP_Password=7\r\n"},
        {"; comment\r\n[string]\r\nEDT_FTP_Login=me\r\n",
         "; comment\r\n[string]\r\nEDT_FTP_Login=me\r\n"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Settings_Copy_Without_Password(in), out) << in;
}

TEST(ErrorBox, EndsWithOnePoint) {
    EXPECT_EQ(Error_Box_Text("Login incorrect"), "Login incorrect.");
    EXPECT_EQ(Error_Box_Text("Login incorrect."), "Login incorrect.");
    EXPECT_EQ(Error_Box_Text(""), ".");
}

} // namespace
} // namespace vistrel
