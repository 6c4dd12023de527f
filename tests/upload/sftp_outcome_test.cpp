// What the connection test makes of an SFTP server's host key; apart from
// the other outcomes because the key's error comes with the SFTP client.
#include "upload/connection_test_runner.h"

#include "support/fake_ftp_session.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TEST(Sftp_Outcome, Only_An_Unknown_Host_Key_Is_Offered_For_Trust) {
    struct Case {
        Host_Key_Problem problem;
        bool offered;
    };
    const Case cases[] = {{Host_Key_Problem::Unknown, true}, {Host_Key_Problem::Changed, false}};
    test::Temp_Dir dir;
    dir.Write("datas.ini", "[string]\r\n");
    Working_Settings settings;
    settings.FTP_Server = "sftp://cam.test:2222";
    for (const Case& c : cases) {
        const Host_Key_Error refused(c.problem, "cam.test", 2222, "ssh-ed25519", "SHA256:abc",
                                     "[cam.test]:2222 ssh-ed25519 AAAA");
        SCOPED_TRACE(refused.what());
        test::Fake_Session session;
        session.on_call = [&](const std::string& call) {
            if (call == "CONNECT")
                throw refused;
        };
        const Connection_Test_Outcome outcome =
            Run_Connection_Test_For_Outcome(session, settings, dir.File("datas.ini"));
        EXPECT_FALSE(outcome.sent);
        EXPECT_EQ(outcome.failure, refused.what());
        EXPECT_FALSE(outcome.untrusted) << "a host key is no certificate";
        ASSERT_EQ(outcome.unknown_key.has_value(), c.offered);
        if (c.offered) {
            EXPECT_EQ(outcome.unknown_key->Host(), "cam.test");
            EXPECT_EQ(outcome.unknown_key->Port(), 2222);
            EXPECT_EQ(outcome.unknown_key->Known_Hosts_Entry(), "[cam.test]:2222 ssh-ed25519 AAAA");
        }
    }
}

} // namespace
} // namespace vistrel
