// What the FTP client's failures mean for the picture being sent: refused
// for good, refused with the server's whole set-up, or worth trying again.
#include "upload/ftp_client.h"
#include "upload/server_trust.h"

#include "support/fake_ftp_server.h"
#include "support/ftp_failure_of.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

using K = Failure_Kind;

using test::Failure_Of;

TEST(Ftp_Failure_Kind, Of_A_Reply_By_Its_Code_And_Command) {
    struct Case {
        int code;
        const char* command;
        Failure_Kind kind;
    };
    const Case cases[] = {
        // A final no to the picture or its folder.
        {550, "CWD", K::Refused},
        {550, "MKD", K::Refused},
        {553, "STOR", K::Refused},
        {552, "STOR", K::Refused},
        {550, "APPE", K::Refused},
        // A final no to us, whatever the picture.
        {530, "PASS", K::Server_Refused},
        {530, "USER", K::Server_Refused},
        {332, "PASS", K::Server_Refused},
        {504, "AUTH", K::Server_Refused},
        {534, "PROT", K::Server_Refused},
        {501, "PBSZ", K::Server_Refused},
        // Worth another try.
        {452, "STOR", K::Connection},
        {450, "CWD", K::Connection},
        {421, "STOR", K::Connection},
        {431, "AUTH", K::Connection},
        {530, "STOR", K::Connection}, // logged out behind our back
        {530, "CWD", K::Connection},
        {550, "PWD", K::Connection},
        {550, "CDUP", K::Connection},
        {550, "LIST", K::Connection},
        {500, "PASV", K::Connection},
        {504, "TYPE", K::Connection},
        {0, "STOR", K::Connection},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " to " + c.command);
        EXPECT_EQ(Reply_Failure_Kind(c.code, c.command), c.kind);
    }
}

TEST(Ftp_Failure_Kind, Is_Carried_By_The_Clients_Failures) {
    using namespace test;
    const Temp_Dir folder;
    folder.Write("p.jpg", "picture");
    Fake_Ftp_Server server(
        Joined(Login_Steps("cam", "pw"),
               {Expect("CWD RIDEV_2026_12_08_D0001"), Send("550 Not a directory."),
                Expect("MKD RIDEV_2026_12_08_D0001"), Send("550 File exists."), Passive(),
                Expect("STOR p.jpg"), Send("553 File name not allowed."), Passive(),
                Expect("STOR p.jpg"), Send("452 Insufficient storage space."), Expect("CDUP"),
                Send("550 No."), Expect("PWD"), Send("257 \"/\"")}));
    FTP_Client client;
    client.Set_Server("127.0.0.1:" + std::to_string(server.Port()));
    client.Set_Credentials("cam", "pw");
    client.Connect();
    client.Login();
    EXPECT_EQ(Failure_Of([&] { client.Change_Dir("RIDEV_2026_12_08_D0001"); }).Kind(), K::Refused);
    EXPECT_EQ(Failure_Of([&] { client.Make_Dir("RIDEV_2026_12_08_D0001"); }).Kind(), K::Refused);
    EXPECT_EQ(Failure_Of([&] { client.Put_File(folder.File("p.jpg"), "p.jpg", false); }).Kind(),
              K::Refused);
    EXPECT_EQ(Failure_Of([&] { client.Put_File(folder.File("p.jpg"), "p.jpg", false); }).Kind(),
              K::Connection);
    EXPECT_EQ(Failure_Of([&] { client.Change_Dir_Up(); }).Kind(), K::Connection);
    // A picture gone between the worker's look and the store: nothing sent.
    EXPECT_EQ(
        Failure_Of([&] { client.Put_File(folder.File("gone.jpg"), "gone.jpg", false); }).Kind(),
        K::Local_File_Gone);
    EXPECT_EQ(client.Get_Current_Dir(), "/");
    EXPECT_EQ(server.Mismatches(), std::vector<std::string>{});
}

TEST(Ftp_Failure_Kind, Of_A_Certificate_Not_Trusted) {
    const Certificate_Error refused(Certificate_Problem::Untrusted, Tls_Peer{}, "nas", 21);
    EXPECT_EQ(refused.Kind(), K::Server_Refused);
}

TEST(Ftp_Failure_Kind, With_Pyftpdlib_A_Wrong_Password_And_A_File_Where_The_Folder_Goes) {
    const test::Pyftpdlib_Server server;
    server.Home().Write("RIDEV_2026_12_08_D0001", "a plain file");
    FTP_Client client;
    client.Set_Server("127.0.0.1:" + std::to_string(server.Port()));
    client.Set_Credentials(test::Pyftpdlib_Server::kUser, "wrong");
    client.Connect();
    EXPECT_EQ(Failure_Of([&] { client.Login(); }).Kind(), K::Server_Refused);
    client.Set_Credentials(test::Pyftpdlib_Server::kUser, test::Pyftpdlib_Server::kPassword);
    client.Connect();
    client.Login();
    EXPECT_EQ(Failure_Of([&] { client.Make_Dir("RIDEV_2026_12_08_D0001"); }).Kind(), K::Refused);
    EXPECT_EQ(Failure_Of([&] { client.Change_Dir("RIDEV_2026_12_08_D0001"); }).Kind(), K::Refused);
}

} // namespace
} // namespace vistrel
