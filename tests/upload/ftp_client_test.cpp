#include "upload/ftp_client.h"

#include "support/fake_ftp_server.h"
#include "support/ftp_failure_of.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vistrel {
namespace {

using namespace std::chrono_literals;
using Steps = std::vector<test::Ftp_Step>;
using test::Close;
using test::Expect;
using test::Passive;
using test::Send;
using Lines = std::vector<std::string>;

TEST(FTP_Client_Settings, The_Server_Field_Sets_Host_Port_And_Encryption) {
    FTP_Client client;
    client.Set_Server("camera.example.net:990");
    EXPECT_EQ(client.Host, "camera.example.net");
    EXPECT_EQ(client.Port, 990);
    client.Set_Server("camera.example.net");
    EXPECT_EQ(client.Port, 21);
    EXPECT_FALSE(client.Encrypted);
    client.Set_Server("ftps://camera.example.net");
    EXPECT_TRUE(client.Encrypted);
    client.Set_Server("ftp://camera.example.net");
    EXPECT_FALSE(client.Encrypted) << "the scheme decides, whatever came before";
}

// ---- The client against a scripted server --------------------------------

const char* const kFeatures = "211-Features:\n MDTM\n SIZE\n211 End";
const char* const kFeatures_With_Pret = "211-Extensions supported:\n MDTM\n pret\n211 End.";
const char* const kListing =
    "drwxr-xr-x   2 cam  users  4096 Mar  7 14:05 RIDEV_2024_03_07_D0003\r\n"
    "-rw-r--r--   1 cam  users 40960 Mar  7 14:06 a b.jpg\r\n";

Steps Greeting_And_Login(const char* features = kFeatures) {
    return {Send("220 Fake server ready."),
            Expect("USER cam"),
            Send("331 Password required."),
            Expect("PASS s3cret"),
            Send("230 Logged in."),
            Expect("FEAT"),
            Send(features),
            Expect("TYPE I"),
            Send("200 Binary.")};
}

Steps Then(Steps first, const Steps& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

const Lines kLogin_Commands = {"USER cam", "PASS s3cret", "FEAT", "TYPE I"};

Lines Then(Lines first, const Lines& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

// A client and the server it talks to; the client goes first, so the server
// sees the connection end before it is stopped.
class Session {
public:
    explicit Session(Steps script) : server(std::move(script)) {
        client.Host = "127.0.0.1";
        client.Port = server.Port();
        client.Set_Credentials("cam", "s3cret");
        client.Read_Timeout = 10s;
        client.Stall_Timeout = 10s;
        client.OnStatus = [this](Ftp_Status status, const std::string&) {
            std::lock_guard lock(mutex_);
            statuses_.push_back(status);
        };
    }
    ~Session() { EXPECT_EQ(server.Mismatches(), Lines{}); }

    void Connect_And_Login() {
        client.Connect();
        client.Login();
    }
    std::vector<Ftp_Status> Statuses() {
        std::lock_guard lock(mutex_);
        return std::exchange(statuses_, {});
    }
    // The commands once the client has closed its connection.
    Lines Final_Commands() {
        EXPECT_TRUE(server.Wait_Until_Closed(10s));
        return server.Commands();
    }

    test::Fake_Ftp_Server server;
    FTP_Client client;

private:
    std::mutex mutex_;
    std::vector<Ftp_Status> statuses_;
};

using test::Failure_Of;

TEST(FTP_Client_Login, Sends_The_Password_Only_When_The_User_Name_Asks_For_It) {
    {
        Session session(Greeting_And_Login());
        EXPECT_FALSE(session.client.Logged_In());
        session.Connect_And_Login();
        EXPECT_TRUE(session.client.Logged_In());
        EXPECT_TRUE(session.client.Is_Connected());
        EXPECT_EQ(session.server.Commands(), kLogin_Commands);
    }
    {
        Session session({Send("220 Ready."), Expect("USER cam"), Send("230 No password needed."),
                         Expect("FEAT"), Send(kFeatures), Expect("TYPE I"), Send("200 Binary.")});
        session.Connect_And_Login();
        EXPECT_TRUE(session.client.Logged_In());
        EXPECT_EQ(session.server.Commands(), (Lines{"USER cam", "FEAT", "TYPE I"}));
    }
}

TEST(FTP_Client_Login, A_Refused_Login_Fails_With_The_Server_Text_And_Leaves_The_Connection_Open) {
    struct Case {
        const char* pass_reply;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"530-Login incorrect.\n530 Try again.", 530, "Login incorrect.\nTry again."},
        {"332 Need account for login.", 332, "Need account for login."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pass_reply);
        Session session({Send("220 Ready."), Expect("USER cam"), Send("331 Password required."),
                         Expect("PASS s3cret"), Send(c.pass_reply)});
        session.client.Connect();
        const FTP_Error error = Failure_Of([&] { session.client.Login(); });
        EXPECT_EQ(error.Code(), c.code);
        EXPECT_STREQ(error.what(), c.message);
        EXPECT_EQ(error.Command(), "PASS");
        EXPECT_TRUE(session.client.Is_Connected());
        EXPECT_FALSE(session.client.Logged_In());
    }
}

TEST(FTP_Client_Features, PRET_Goes_Before_Each_Transfer_Only_When_FEAT_Lists_It) {
    struct Case {
        const char* feat_reply;
        bool pret;
    };
    for (const Case& c : {Case{"500 FEAT not understood.", false}, Case{kFeatures, false},
                          Case{kFeatures_With_Pret, true}}) {
        SCOPED_TRACE(c.feat_reply);
        const test::Temp_Dir folder;
        folder.Write("p.jpg", "jpeg bytes");
        Steps script =
            Then(Greeting_And_Login(c.feat_reply), {Expect("TYPE A"), Send("200 ASCII.")});
        if (c.pret)
            script = Then(script, {Expect("PRET LIST"), Send("200 Ready for LIST.")});
        script =
            Then(script, {Passive(), Expect("LIST"), Send("150 Listing."), test::Serve(kListing),
                          Send("226 Done."), Expect("TYPE I"), Send("200 Binary.")});
        if (c.pret)
            script = Then(script, {Expect("PRET STOR p.jpg"), Send("200 Ready for STOR.")});
        script = Then(script, {Passive(), Expect("STOR p.jpg"), Send("150 Go."), test::Receive(),
                               Send("226 Stored.")});
        Session session(script);
        session.Connect_And_Login();
        session.client.List_Dir();
        session.client.Put_File(folder.File("p.jpg"), "p.jpg", false);

        Lines expected = kLogin_Commands;
        expected.push_back("TYPE A");
        if (c.pret)
            expected.push_back("PRET LIST");
        expected = Then(expected, {"PASV", "LIST", "TYPE I"});
        if (c.pret)
            expected.push_back("PRET STOR p.jpg");
        expected = Then(expected, {"PASV", "STOR p.jpg"});
        EXPECT_EQ(session.server.Commands(), expected);
    }
}

TEST(FTP_Client_Listing, Lists_In_ASCII_Returns_To_Binary_And_Replaces_The_Last_Listing) {
    const Steps listing = {Expect("TYPE A"),
                           Send("200 ASCII."),
                           Passive(),
                           Expect("LIST"),
                           Send("125 Data connection open."),
                           test::Serve(kListing),
                           Send("226 Done."),
                           Expect("TYPE I"),
                           Send("200 Binary.")};
    const Steps empty_listing = {Expect("TYPE A"),  Send("200 ASCII."),   Passive(),
                                 Expect("LIST"),    Send("150 Listing."), test::Serve(""),
                                 Send("250 Done."), Expect("TYPE I"),     Send("200 Binary.")};
    Session session(Then(Then(Greeting_And_Login(), listing), empty_listing));
    session.Connect_And_Login();
    session.Statuses();

    session.client.List_Dir();
    EXPECT_EQ(session.client.List_Result(),
              (Lines{"drwxr-xr-x   2 cam  users  4096 Mar  7 14:05 RIDEV_2024_03_07_D0003",
                     "-rw-r--r--   1 cam  users 40960 Mar  7 14:06 a b.jpg"}));
    EXPECT_EQ(session.Statuses(), (std::vector{Ftp_Status::ftpTransfer, Ftp_Status::ftpReady}));

    session.client.List_Dir();
    EXPECT_EQ(session.client.List_Result(), Lines{});
    EXPECT_EQ(session.server.Commands(),
              Then(kLogin_Commands,
                   {"TYPE A", "PASV", "LIST", "TYPE I", "TYPE A", "PASV", "LIST", "TYPE I"}));
}

TEST(FTP_Client_Listing, Returns_To_Binary_Also_When_The_Listing_Is_Refused) {
    Session session(Then(Greeting_And_Login(),
                         {Expect("TYPE A"), Send("200 ASCII."), Passive(), Expect("LIST"),
                          Send("550 No such directory."), Expect("TYPE I"), Send("200 Binary.")}));
    session.Connect_And_Login();
    session.Statuses();
    const FTP_Error error = Failure_Of([&] { session.client.List_Dir(); });
    EXPECT_EQ(error.Code(), 550);
    EXPECT_STREQ(error.what(), "No such directory.");
    EXPECT_EQ(error.Command(), "LIST");
    EXPECT_EQ(session.Statuses(), (std::vector{Ftp_Status::ftpTransfer, Ftp_Status::ftpAborted}));
    EXPECT_EQ(session.server.Commands(),
              Then(kLogin_Commands, {"TYPE A", "PASV", "LIST", "TYPE I"}));
}

TEST(FTP_Client_Store, Stores_Or_Appends_The_Whole_File_Under_The_Remote_Name) {
    const test::Temp_Dir folder;
    std::string content;
    for (int i = 0; i < 40 * 1024; ++i)
        content += static_cast<char>(i * 7 % 251);
    folder.Write("I_14_05_09__00012.jpg", content);
    const std::string path = folder.File("I_14_05_09__00012.jpg");

    const Steps store = {Passive(), Expect("STOR a b.jpg"), Send("150 Go ahead."), test::Receive(),
                         Send("226 Transfer complete.")};
    const Steps append = {Passive(), Expect("APPE datas.ini"), Send("125 Go ahead."),
                          test::Receive(), Send("250 Appended.")};
    const Steps own_name = {Passive(), Expect("STOR I_14_05_09__00012.jpg"), Send("110 Marker."),
                            test::Receive(), Send("225 Done.")};
    Session session(Then(Then(Then(Greeting_And_Login(), store), append), own_name));
    session.Connect_And_Login();
    session.Statuses();

    session.client.Put_File(path, "a b.jpg", false);
    EXPECT_EQ(session.Statuses(), (std::vector{Ftp_Status::ftpTransfer, Ftp_Status::ftpReady}));
    session.client.Put_File(path, "datas.ini", true);
    session.client.Put_File(path, "", false);
    EXPECT_EQ(session.server.Stored(), (Lines{content, content, content}));
}

TEST(FTP_Client_Replies, A_Refusal_Fails_With_Its_Code_And_Text_And_The_Connection_Goes_On) {
    const test::Temp_Dir folder;
    folder.Write("p.jpg", "picture");
    Session session(Then(Greeting_And_Login(),
                         {Expect("MKD RIDEV_2024_03_07_D0003"),
                          Send("550-Cannot create folder.\n Folder exists.\n550 End"), Passive(),
                          Expect("STOR p.jpg"), Send("553 Could not create file."), Expect("CDUP"),
                          Send("421 Service closing."), Expect("PWD"),
                          Send("257 \"/pictures/cam\" is current directory.")}));
    session.Connect_And_Login();

    FTP_Error error = Failure_Of([&] { session.client.Make_Dir("RIDEV_2024_03_07_D0003"); });
    EXPECT_EQ(error.Code(), 550);
    EXPECT_STREQ(error.what(), "Cannot create folder.\nFolder exists.\nEnd");
    EXPECT_EQ(error.Command(), "MKD");

    session.Statuses();
    error = Failure_Of([&] { session.client.Put_File(folder.File("p.jpg"), "p.jpg", false); });
    EXPECT_EQ(error.Code(), 553);
    EXPECT_STREQ(error.what(), "Could not create file.");
    EXPECT_EQ(error.Command(), "STOR");
    EXPECT_EQ(session.Statuses(), (std::vector{Ftp_Status::ftpTransfer, Ftp_Status::ftpAborted}));

    error = Failure_Of([&] { session.client.Change_Dir_Up(); });
    EXPECT_EQ(error.Code(), 421);
    EXPECT_EQ(session.client.Get_Current_Dir(), "/pictures/cam");
}

TEST(FTP_Client_Transfer, Connects_To_The_Control_Peer_Whatever_Address_PASV_Announces) {
    Session session(Then(Greeting_And_Login(),
                         {Expect("TYPE A"), Send("200 ASCII."), Passive("10.255.255.1"),
                          Expect("LIST"), Send("150 Listing."), test::Serve("total 0\r\n"),
                          Send("226 Done."), Expect("TYPE I"), Send("200 Binary.")}));
    session.client.Stall_Timeout = 3s; // should it go astray, it gives up
    session.Connect_And_Login();
    session.client.List_Dir();
    EXPECT_EQ(session.client.List_Result(), Lines{"total 0"});
}

TEST(FTP_Client_Store, A_Missing_Local_File_Fails_Before_Anything_Is_Sent) {
    const test::Temp_Dir folder;
    Session session(Greeting_And_Login());
    session.Connect_And_Login();
    const FTP_Error error =
        Failure_Of([&] { session.client.Put_File(folder.File("gone.jpg"), "gone.jpg", false); });
    EXPECT_EQ(error.Code(), 0);
    EXPECT_NE(std::string(error.what()).find("gone.jpg"), std::string::npos);
    session.client.Disconnect();
    EXPECT_EQ(session.Final_Commands(), Then(kLogin_Commands, {"QUIT"}));
}

TEST(FTP_Client_Connection, Operations_Without_A_Connection_Fail_At_Once) {
    FTP_Client client;
    EXPECT_FALSE(client.Is_Connected());
    EXPECT_EQ(Failure_Of([&] { client.Login(); }).Code(), 0);
    EXPECT_EQ(Failure_Of([&] { client.Get_Current_Dir(); }).Code(), 0);
    EXPECT_EQ(Failure_Of([&] { client.List_Dir(); }).Code(), 0);
    EXPECT_EQ(Failure_Of([&] { client.Make_Dir("x"); }).Code(), 0);
    EXPECT_NO_THROW(client.Abort_Transfer());
    EXPECT_NO_THROW(client.Disconnect());
}

TEST(FTP_Client_Connection, Reports_Each_Step_Of_Connecting_And_Disconnecting) {
    Session session({Send("220 Ready.")});
    session.client.Connect();
    EXPECT_EQ(session.Statuses(), (std::vector{Ftp_Status::hsConnecting, Ftp_Status::hsConnected}));
    EXPECT_TRUE(session.client.Is_Connected());
    EXPECT_FALSE(session.client.Logged_In());
    session.client.Disconnect();
    EXPECT_EQ(session.Statuses(),
              (std::vector{Ftp_Status::hsDisconnecting, Ftp_Status::hsDisconnected}));
    EXPECT_FALSE(session.client.Is_Connected());
    EXPECT_EQ(session.Final_Commands(), Lines{"QUIT"});
}

TEST(FTP_Client_Connection, Resolves_A_Host_Name_First) {
    Session session({Send("220 Ready.")});
    session.client.Host = "localhost";
    try {
        session.client.Connect(); // may try ::1 first, where nothing listens
    } catch (const FTP_Error&) {
    }
    const std::vector<Ftp_Status> statuses = session.Statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), Ftp_Status::hsResolving);
    EXPECT_EQ(statuses.back(), Ftp_Status::hsConnected);
}

TEST(FTP_Client_Connection, A_Refused_Connection_Fails_Without_A_Code) {
    FTP_Client client;
    client.Set_Server("127.0.0.1:" + std::to_string(test::Unused_Port()));
    const FTP_Error error = Failure_Of([&] { client.Connect(); });
    EXPECT_EQ(error.Code(), 0);
    EXPECT_FALSE(client.Is_Connected());
}

TEST(FTP_Client_Connection, A_Server_That_Ends_Without_A_Proper_Greeting_Fails_The_Connect) {
    struct Case {
        Steps script;
        int code;
        std::optional<Lines> commands; // QUIT only when the server still listens
    };
    const Case cases[] = {
        {{Close()}, 0, Lines{}},
        // Whether its end has arrived with the reply is up to the network.
        {{Send("421 Too many users."), Close()}, 421, std::nullopt},
        {{Send("421 Too many users.")}, 421, Lines{"QUIT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Session session(c.script);
        const FTP_Error error = Failure_Of([&] { session.client.Connect(); });
        EXPECT_EQ(error.Code(), c.code);
        EXPECT_FALSE(session.client.Is_Connected());
        const Lines commands = session.Final_Commands();
        if (c.commands) {
            EXPECT_EQ(commands, *c.commands);
        }
    }
}

TEST(FTP_Client_Connection, A_Connection_The_Server_Closed_Reads_As_Closed_And_Gets_No_QUIT) {
    Session session({Send("220 Ready, and gone."), Close()});
    session.client.Connect();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (session.client.Is_Connected() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(session.client.Is_Connected());
    EXPECT_EQ(Failure_Of([&] { session.client.Get_Current_Dir(); }).Code(), 0);
    session.client.Disconnect();
    EXPECT_EQ(session.Final_Commands(), Lines{});
}

// A store big enough to fill every buffer between the client and a server
// that stopped reading.
std::string Large_Picture(const test::Temp_Dir& folder) {
    folder.Write("big.jpg", std::string(16 * 1024 * 1024, 'j'));
    return folder.File("big.jpg");
}

TEST(FTP_Client_Time_Outs, A_Time_Out_Closes_The_Connection_So_A_Late_Reply_Is_Never_Taken) {
    Session session({Send("220 Ready."), Expect("PWD")});
    session.client.Read_Timeout = 200ms;
    session.client.Connect();
    const FTP_Error error = Failure_Of([&] { session.client.Get_Current_Dir(); });
    EXPECT_EQ(error.Code(), 0);
    EXPECT_EQ(error.Command(), "PWD");
    EXPECT_NE(std::string(error.what()).find("within 200 ms"), std::string::npos) << error.what();
    EXPECT_FALSE(session.client.Is_Connected());
    EXPECT_EQ(Failure_Of([&] { session.client.Get_Current_Dir(); }).Code(), 0);
    EXPECT_EQ(session.Final_Commands(), Lines{"PWD"}) << "cut without a word";
}

TEST(FTP_Client_Time_Outs, The_Reply_Limit_Covers_The_Whole_Reply_However_It_Trickles) {
    std::string endless = "211-Features:";
    for (int i = 0; i < 200; ++i)
        endless += "\n211-F" + std::to_string(i);
    endless += "\n211 End";
    const std::pair<const char*, std::string> cases[] = {
        {"a byte every 50 ms", "257 \"/a folder with a long name\" is the current directory."},
        {"continuation lines without end", endless},
    };
    for (const auto& [name, reply] : cases) {
        SCOPED_TRACE(name);
        Session session({Send("220 Ready."), Expect("PWD"), test::Drip(reply)});
        session.client.Read_Timeout = 300ms;
        session.client.Connect();
        const auto start = std::chrono::steady_clock::now();
        const FTP_Error error = Failure_Of([&] { session.client.Get_Current_Dir(); });
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_EQ(error.Code(), 0);
        EXPECT_FALSE(session.client.Is_Connected());
    }
}

TEST(FTP_Client_Time_Outs, A_Stalled_Listing_Is_Given_Up_With_Its_Connection) {
    Session session(
        Then(Greeting_And_Login(), {Expect("TYPE A"), Send("200 ASCII."), Passive(), Expect("LIST"),
                                    Send("150 Listing."), test::Stall()}));
    session.client.Stall_Timeout = 200ms;
    session.Connect_And_Login();
    const FTP_Error error = Failure_Of([&] { session.client.List_Dir(); });
    EXPECT_EQ(error.Code(), 0);
    EXPECT_EQ(error.Command(), "LIST");
    EXPECT_FALSE(session.client.Is_Connected()) << "the replies still to come are unknown";
    EXPECT_EQ(session.Final_Commands(), Then(kLogin_Commands, {"TYPE A", "PASV", "LIST"}));
}

TEST(FTP_Client_Time_Outs, A_Data_Connection_That_Trickles_Is_Given_Up) {
    // Forty bytes at one every 50 ms: never silent for long, but far from
    // the least a transfer must move in its window.
    Session session(
        Then(Greeting_And_Login(), {Expect("TYPE A"), Send("200 ASCII."), Passive(), Expect("LIST"),
                                    Send("150 Listing."), test::Trickle(std::string(40, 'x'))}));
    session.client.Stall_Timeout = 300ms;
    session.Connect_And_Login();
    const auto start = std::chrono::steady_clock::now();
    const FTP_Error error = Failure_Of([&] { session.client.List_Dir(); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_NE(std::string(error.what()).find("less than 1024 bytes"), std::string::npos)
        << error.what();
    EXPECT_FALSE(session.client.Is_Connected());
}

TEST(FTP_Client_Replies, A_Reply_Out_Of_Step_Closes_The_Connection) {
    struct Case {
        const char* name;
        Steps script;
        std::function<void(FTP_Client&)> run;
        Lines commands; // all the server got
    };
    const Case cases[] = {
        {"two replies to one command",
         {Send("220 Ready."), Expect("PWD"), Send("257 \"/a\" is current.\n257 \"/b\" too.")},
         [](FTP_Client& client) {
             EXPECT_EQ(client.Get_Current_Dir(), "/a");
             client.Change_Dir("x");
         },
         {"PWD"}},
        {"a reply nobody asked for",
         {Send("220 Ready."), test::Drip("421 Idle.")},
         [](FTP_Client& client) {
             std::this_thread::sleep_for(1s); // it has arrived
             client.Get_Current_Dir();
         },
         {}},
        {"a preliminary reply to a plain command",
         {Send("220 Ready."), Expect("PWD"), Send("150 Opening.")},
         [](FTP_Client& client) { client.Get_Current_Dir(); },
         {"PWD"}},
        {"a code of no class",
         {Send("220 Ready."), Expect("CDUP"), Send("999 What?")},
         [](FTP_Client& client) { client.Change_Dir_Up(); },
         {"CDUP"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session(c.script);
        session.client.Connect();
        const FTP_Error error = Failure_Of([&] { c.run(session.client); });
        EXPECT_EQ(error.Code(), 0) << error.what();
        EXPECT_FALSE(session.client.Is_Connected());
        EXPECT_EQ(session.Final_Commands(), c.commands);
    }
}

TEST(FTP_Client_Transfer, Over_IPv6_Asks_For_An_Extended_Passive_Connection) {
    const test::Temp_Dir folder;
    folder.Write("p.jpg", "picture over IPv6");
    test::Fake_Ftp_Server server(
        Then(Greeting_And_Login(),
             {Expect("TYPE A"), Send("200 ASCII."), Passive(), Expect("LIST"), Send("150 Listing."),
              test::Serve("total 0\r\n"), Send("226 Done."), Expect("TYPE I"), Send("200 Binary."),
              Passive(), Expect("STOR p.jpg"), Send("150 Go."), test::Receive(),
              Send("226 Stored.")}),
        AF_INET6);
    FTP_Client client;
    client.Set_Server("[::1]:" + std::to_string(server.Port()));
    client.Set_Credentials("cam", "s3cret");
    client.Connect();
    client.Login();
    client.List_Dir();
    EXPECT_EQ(client.List_Result(), Lines{"total 0"});
    client.Put_File(folder.File("p.jpg"), "p.jpg", false);
    EXPECT_EQ(server.Stored(), Lines{"picture over IPv6"});
    client.Disconnect();
    EXPECT_TRUE(server.Wait_Until_Closed(10s));
    EXPECT_EQ(server.Mismatches(), Lines{});
    EXPECT_EQ(server.Commands(), Then(kLogin_Commands, {"TYPE A", "EPSV", "LIST", "TYPE I", "EPSV",
                                                        "STOR p.jpg", "QUIT"}));
}

TEST(FTP_Client_Connection, Every_Wait_Of_Connecting_Has_Its_Limit) {
    struct Case {
        const char* name;
        std::function<void(FTP_Client&)> prepare;
    };
    const test::Full_Listener dropping;
    std::promise<void> never;
    const std::shared_future<void> never_answered = never.get_future().share();
    const Case cases[] = {
        {"a host that drops connection attempts",
         [&](FTP_Client& client) {
             client.Set_Server("127.0.0.1:" + std::to_string(dropping.Port()));
             client.Connect_Timeout = 300ms;
         }},
        {"a name server that never answers",
         [&](FTP_Client& client) {
             client.Set_Server("camera.example.net");
             client.Lookup_Timeout = 300ms;
             client.Name_Resolver = [never_answered](const std::string&, uint16_t) {
                 never_answered.wait();
                 return std::vector<Endpoint>{};
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FTP_Client client;
        c.prepare(client);
        const auto start = std::chrono::steady_clock::now();
        const FTP_Error error = Failure_Of([&] { client.Connect(); });
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 300ms);
        EXPECT_LT(took, 3s);
        EXPECT_NE(std::string(error.what()).find("within 300 ms"), std::string::npos)
            << error.what();
        EXPECT_FALSE(client.Is_Connected());
    }
    never.set_value();
}

TEST(FTP_Client_Connection, A_Name_Server_That_Never_Answers_Costs_One_Lookup_Not_One_A_Try) {
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    const test::Fake_Ftp_Server server({Send("220 Ready.")});
    std::atomic<int> lookups{0};
    FTP_Client client;
    client.Host = "camera.test";
    client.Port = server.Port();
    client.Lookup_Timeout = 100ms;
    client.Name_Resolver = [&lookups, released](const std::string&, uint16_t port) {
        ++lookups;
        released.wait();
        return Resolve("127.0.0.1", port);
    };
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_EQ(Failure_Of([&] { client.Connect(); }).Code(), 0);
    EXPECT_EQ(lookups.load(), 1);
    // Once it answers, the next attempt takes its answer, or, should that
    // answer be in already, looks the name up afresh.
    release.set_value();
    client.Lookup_Timeout = 10s;
    client.Connect();
    EXPECT_TRUE(client.Is_Connected());
    EXPECT_LE(lookups.load(), 2);
}

TEST(FTP_Client_Connection, A_Doubled_Greeting_Is_One_Greeting) {
    Session session(
        {Send("220 Ready.\n220 Really ready."), Expect("PWD"), Send("257 \"/\" is current.")});
    session.client.Connect();
    EXPECT_EQ(session.client.Get_Current_Dir(), "/");
}

TEST(FTP_Client_Connection, Tries_IPv4_First_And_Resolves_Off_The_Calling_Thread) {
    const test::Fake_Ftp_Server server({Send("220 Ready.")});
    FTP_Client client;
    client.Port = server.Port();
    client.Host = "camera.test";
    std::thread::id resolved_on;
    client.Name_Resolver = [&](const std::string& host, uint16_t port) {
        resolved_on = std::this_thread::get_id();
        std::vector<Endpoint> both = Resolve("::1", port);
        const std::vector<Endpoint> v4 = Resolve("127.0.0.1", port);
        both.insert(both.end(), v4.begin(), v4.end());
        EXPECT_EQ(host, "camera.test");
        return both; // IPv6 first, as resolvers often answer
    };
    client.Connect();
    EXPECT_TRUE(client.Is_Connected()) << "nothing listens on ::1: IPv4 went first";
    EXPECT_NE(resolved_on, std::this_thread::get_id());
}

// Whatever the client waits for, cutting it from another thread ends the
// wait at once, never throws, and leaves nothing open.
TEST(FTP_Client_Abort, Closing_From_Another_Thread_Ends_Every_Wait_At_Once) {
    const test::Temp_Dir folder;
    const std::string picture = Large_Picture(folder);
    const test::Full_Listener dropping;
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    struct Case {
        const char* name;
        Steps script;       // empty: no server of that kind
        bool full_listener; // connect to one that takes nothing
        bool blocked_lookup;
        bool login_first;
        std::function<void(FTP_Client&)> wait;
        std::function<void(FTP_Client&)> cut;
        Lines commands; // what the server got, when there is one
    };
    const auto abort_and_disconnect = [](FTP_Client& client) {
        client.Abort_Transfer();
        client.Disconnect();
    };
    const auto close_for_good = [](FTP_Client& client) { client.Close_For_Good(); };
    const auto connect = [](FTP_Client& client) { client.Connect(); };
    const Case cases[] = {
        {"connecting", {}, true, false, false, connect, abort_and_disconnect, {}},
        {"connecting, closed for good", {}, true, false, false, connect, close_for_good, {}},
        {"resolving", {}, false, true, false, connect, abort_and_disconnect, {}},
        {"resolving, closed for good", {}, false, true, false, connect, close_for_good, {}},
        {"awaiting the greeting",
         {Expect("ABOR"), Expect("QUIT")},
         false,
         false,
         false,
         connect,
         abort_and_disconnect,
         {"ABOR", "QUIT"}},
        {"awaiting a reply",
         Then(Greeting_And_Login(), {Expect("PWD"), Expect("ABOR"), Expect("QUIT")}), false, false,
         true, [](FTP_Client& client) { client.Get_Current_Dir(); }, abort_and_disconnect,
         Then(kLogin_Commands, {"PWD", "ABOR", "QUIT"})},
        {"a stalled store, closed for good",
         Then(Greeting_And_Login(),
              {Passive(), Expect("STOR big.jpg"), Send("150 Go."), test::Stall()}),
         false, false, true,
         [&](FTP_Client& client) { client.Put_File(picture, "big.jpg", false); }, close_for_good,
         Then(kLogin_Commands, {"PASV", "STOR big.jpg"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<test::Fake_Ftp_Server> server;
        FTP_Client client;
        client.Set_Credentials("cam", "s3cret");
        if (!c.script.empty()) {
            server.emplace(c.script);
            client.Set_Server("127.0.0.1:" + std::to_string(server->Port()));
        } else if (c.full_listener) {
            client.Set_Server("127.0.0.1:" + std::to_string(dropping.Port()));
        } else if (c.blocked_lookup) {
            client.Set_Server("camera.example.net");
            client.Name_Resolver = [released](const std::string&, uint16_t) {
                released.wait();
                return std::vector<Endpoint>{};
            };
        }
        if (c.login_first) {
            client.Connect();
            client.Login();
        }
        std::mutex mutex;
        std::vector<Ftp_Status> statuses;
        client.OnStatus = [&](Ftp_Status status, const std::string&) {
            std::lock_guard lock(mutex);
            statuses.push_back(status);
        };
        auto waiting =
            std::async(std::launch::async, [&] { return Failure_Of([&] { c.wait(client); }); });
        // The wait has begun once the client says so, or the server sees it.
        const auto reached = [&] {
            std::lock_guard lock(mutex);
            const auto said = [&](Ftp_Status status) {
                return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
            };
            if (c.full_listener)
                return said(Ftp_Status::hsConnecting);
            if (c.blocked_lookup)
                return said(Ftp_Status::hsResolving);
            if (!c.login_first)
                return said(Ftp_Status::hsConnected);
            if (said(Ftp_Status::ftpTransfer))
                return server->Wait_Until_Stalling(0ms);
            const Lines commands = server->Commands();
            return std::find(commands.begin(), commands.end(), "PWD") != commands.end();
        };
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!reached() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(reached());
        // What is said just before the wait; a moment later it is under way.
        std::this_thread::sleep_for(50ms);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NO_THROW(c.cut(client));
        ASSERT_EQ(waiting.wait_for(1s), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        EXPECT_EQ(waiting.get().Code(), 0);
        EXPECT_FALSE(client.Is_Connected());
        if (server) {
            EXPECT_TRUE(server->Wait_Until_Closed(10s));
            EXPECT_EQ(server->Commands(), c.commands);
        }
    }
    release.set_value();
}

TEST(FTP_Client_Abort, Once_Closed_For_Good_Nothing_Starts_Again) {
    Session session({Send("220 Ready.")});
    session.client.Close_For_Good();
    EXPECT_EQ(Failure_Of([&] { session.client.Connect(); }).Code(), 0);
    EXPECT_FALSE(session.client.Is_Connected());
    EXPECT_NO_THROW(session.client.Abort_Transfer());
    EXPECT_NO_THROW(session.client.Disconnect());
}

TEST(FTP_Client_Abort, Abort_From_Another_Thread_Ends_A_Stalled_Store_At_Once) {
    const test::Temp_Dir folder;
    const std::string picture = Large_Picture(folder);
    Session session(Then(
        Then(Greeting_And_Login(),
             {Passive(), Expect("STOR big.jpg"), Send("150 Go."), test::Stall(), Expect("ABOR"),
              Send("426 Transfer aborted."), Send("226 Abort successful."), test::Reconnect()}),
        Then(Greeting_And_Login(), {Expect("PWD"), Send("257 \"/\" is current.")})));
    session.client.Read_Timeout = 30s;
    session.client.Stall_Timeout = 30s;
    session.Connect_And_Login();

    auto storing = std::async(std::launch::async, [&] {
        return Failure_Of([&] { session.client.Put_File(picture, "big.jpg", false); });
    });
    ASSERT_TRUE(session.server.Wait_Until_Stalling(10s));
    const auto start = std::chrono::steady_clock::now();
    session.client.Abort_Transfer();
    ASSERT_EQ(storing.wait_for(1s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    const FTP_Error failure = storing.get();
    EXPECT_EQ(failure.Command(), "STOR");
    EXPECT_STREQ(failure.what(), "transfer aborted");
    // The aborted connection is closed, not kept: the next caller connects
    // afresh, and its commands get their own replies.
    EXPECT_FALSE(session.client.Is_Connected());
    EXPECT_FALSE(session.client.Logged_In());
    session.Connect_And_Login();
    EXPECT_EQ(session.client.Get_Current_Dir(), "/");
    EXPECT_EQ(session.server.Connections(), 2);
    session.client.Disconnect();
    EXPECT_EQ(session.Final_Commands(),
              Then(Then(kLogin_Commands, {"PASV", "STOR big.jpg", "ABOR", "QUIT"}),
                   Then(kLogin_Commands, {"PWD", "QUIT"})));
}

TEST(FTP_Client_Abort, Disconnect_From_Another_Thread_Ends_A_Stalled_Transfer_At_Once) {
    const test::Temp_Dir folder;
    const std::string picture = Large_Picture(folder);
    struct Case {
        const char* name;
        Steps transfer;
        std::function<void(FTP_Client&)> run;
    };
    const Case cases[] = {
        {"listing",
         {Expect("TYPE A"), Send("200 ASCII."), Passive(), Expect("LIST"), Send("150 Listing."),
          test::Stall(), Expect("QUIT")},
         [](FTP_Client& client) { client.List_Dir(); }},
        {"store",
         {Passive(), Expect("STOR big.jpg"), Send("150 Go."), test::Stall(), Expect("QUIT")},
         [&](FTP_Client& client) { client.Put_File(picture, "big.jpg", false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session session(Then(Greeting_And_Login(), c.transfer));
        session.client.Read_Timeout = 30s;
        session.client.Stall_Timeout = 30s;
        session.Connect_And_Login();

        auto running = std::async(std::launch::async,
                                  [&] { return Failure_Of([&] { c.run(session.client); }); });
        ASSERT_TRUE(session.server.Wait_Until_Stalling(10s));
        const auto start = std::chrono::steady_clock::now();
        session.client.Disconnect();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        ASSERT_EQ(running.wait_for(1s), std::future_status::ready);
        EXPECT_EQ(running.get().Code(), 0);
        EXPECT_FALSE(session.client.Is_Connected());
        EXPECT_FALSE(session.client.Logged_In());
    }
}

TEST(FTP_Client_Abort, Abort_Without_A_Transfer_Reads_Its_Reply) {
    Session session({Send("220 Ready."), Expect("ABOR"), Send("225 No transfer to abort."),
                     Expect("QUIT"), Send("221 Goodbye.")});
    session.client.Connect();
    session.Statuses();
    session.client.Abort_Transfer();
    // The connection is closed as Disconnect closes it, and stays closed.
    EXPECT_FALSE(session.client.Is_Connected());
    EXPECT_EQ(session.Statuses(),
              (std::vector{Ftp_Status::hsDisconnecting, Ftp_Status::hsDisconnected}));
    EXPECT_EQ(session.Final_Commands(), (Lines{"ABOR", "QUIT"}));
    EXPECT_EQ(Failure_Of([&] { session.client.Get_Current_Dir(); }).Code(), 0);
}

// ---- The client against a real server ------------------------------------

TEST(FTP_Client_With_Pyftpdlib, Makes_Enters_And_Lists_Folders_And_Stores_Files_Intact) {
    const test::Pyftpdlib_Server server;
    const test::Temp_Dir local;
    std::string picture;
    for (int i = 0; i < 40 * 1024; ++i)
        picture += static_cast<char>((i * 131 + i / 256) % 256);
    local.Write("I_14_05_09__00012.jpg", picture);
    const std::string path = local.File("I_14_05_09__00012.jpg");

    FTP_Client client;
    client.Set_Server("127.0.0.1:" + std::to_string(server.Port()));
    client.Set_Credentials(test::Pyftpdlib_Server::kUser, test::Pyftpdlib_Server::kPassword);
    client.Connect();
    client.Login();
    ASSERT_TRUE(client.Logged_In());
    EXPECT_EQ(client.Get_Current_Dir(), "/");

    const std::string folder = "RIDEV_2026_12_08_R0001";
    client.Make_Dir(folder);
    EXPECT_EQ(Failure_Of([&] { client.Make_Dir(folder); }).Code(), 550);
    client.List_Dir();
    const Lines& listing = client.List_Result();
    EXPECT_TRUE(std::any_of(listing.begin(), listing.end(), [&](const std::string& line) {
        return line.starts_with('d') && line.ends_with(" " + folder);
    })) << testing::PrintToString(listing);

    client.Change_Dir(folder);
    EXPECT_EQ(client.Get_Current_Dir(), "/" + folder);
    client.Put_File(path, "I_14_05_09__00012.jpg", false);
    EXPECT_EQ(server.Home().Read(folder + "/I_14_05_09__00012.jpg"), picture);
    client.Put_File(path, "datas.ini", true);
    client.Put_File(path, "datas.ini", true);
    EXPECT_EQ(server.Home().Read(folder + "/datas.ini"), picture + picture);
    client.Put_File(path, "datas.ini", false);
    EXPECT_EQ(server.Home().Read(folder + "/datas.ini"), picture);

    client.Change_Dir_Up();
    EXPECT_EQ(client.Get_Current_Dir(), "/");
    client.Disconnect();
    EXPECT_FALSE(client.Is_Connected());
}

TEST(FTP_Client_With_Pyftpdlib, A_Wrong_Password_Fails_The_Login_Only) {
    const test::Pyftpdlib_Server server;
    FTP_Client client;
    client.Set_Server("127.0.0.1:" + std::to_string(server.Port()));
    client.Set_Credentials(test::Pyftpdlib_Server::kUser, "wrong");
    client.Connect();
    EXPECT_EQ(Failure_Of([&] { client.Login(); }).Code(), 530);
    EXPECT_TRUE(client.Is_Connected());
    EXPECT_FALSE(client.Logged_In());
}

} // namespace
} // namespace vistrel
