// Uploads over explicit FTPS: real servers with the settings that demand TLS
// everywhere, and scripted ones that show what the client refuses.
#include "upload/connection_test.h"
#include "upload/ftp_client.h"
#include "upload/server_trust.h"
#include "upload/upload_worker.h"

#include "support/fake_ftp_server.h"
#include "support/real_ftp_servers.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace vistrel {
namespace {

using test::Test_Certificate;
using Lines = std::vector<std::string>;

// The system's trust store for one test: its own authority and nothing else.
class Trust_Store {
public:
    Trust_Store() {
        authority.Write_Certificate(dir.Path() / "authority.pem");
        server.Write_With_Key(dir.Path() / "server.pem");
        std::filesystem::create_directories(dir.Path() / "no-certificates");
        ::setenv("SSL_CERT_FILE", (dir.Path() / "authority.pem").c_str(), 1);
        ::setenv("SSL_CERT_DIR", (dir.Path() / "no-certificates").c_str(), 1);
    }
    ~Trust_Store() {
        ::unsetenv("SSL_CERT_FILE");
        ::unsetenv("SSL_CERT_DIR");
    }
    Trust_Store(const Trust_Store&) = delete;
    Trust_Store& operator=(const Trust_Store&) = delete;

    // Writes `certificate` with its key for a server to load.
    std::string Server_File(const Test_Certificate& certificate, const std::string& name) const {
        const std::filesystem::path file = dir.Path() / name;
        certificate.Write_With_Key(file);
        return file.string();
    }
    std::string Server_File() const { return (dir.Path() / "server.pem").string(); }

    test::Temp_Dir dir;
    Test_Certificate authority = Test_Certificate::Authority("Vistrel test authority");
    Test_Certificate server{"localhost", test::Loopback_Names(), authority};
};

// Compares without printing megabytes of binary on a failure.
::testing::AssertionResult Same_Bytes(const std::string& got, const std::string& expected) {
    if (got == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << got.size() << " bytes instead of the "
                                         << expected.size() << " expected, or other bytes";
}

std::string Picture(int seed) {
    std::string bytes;
    for (int i = 0; i < 40 * 1024 + seed; ++i)
        bytes += static_cast<char>((i * 131 + seed * 7 + i / 256) % 256);
    return bytes;
}

// The worker and the connection test of one window, on one client.
struct Uploader {
    explicit Uploader(const std::string& server, const std::string& user,
                      const std::string& password) {
        settings.Use_FTP = true;
        settings.FTP_Server = server;
        settings.FTP_Login = user;
        settings.FTP_Password = password;
        client.OnStatus = [this](Ftp_Status, const std::string& text) {
            std::lock_guard lock(mutex);
            statuses.push_back(text);
        };
    }

    void Record(const std::string& folder, const std::string& name, const std::string& bytes) {
        local.Write(folder + name, bytes);
        files.Append({local.Folder() + folder + name, name, folder, false});
    }
    std::string Last_Status() {
        std::lock_guard lock(mutex);
        return statuses.empty() ? std::string() : statuses.back();
    }
    std::string All_Statuses() {
        std::lock_guard lock(mutex);
        return ::testing::PrintToString(statuses);
    }

    test::Temp_Dir local;
    Working_Settings settings;
    FTP_Client client;
    Upload_List files;
    Upload_Worker worker{client, files, {[this] { return settings; }, nullptr, nullptr}};
    std::mutex mutex;
    Lines statuses;
};

// ---- Real servers that demand TLS on every connection --------------------

struct Real_Server_Case {
    const char* name;
    // Null with the reason when it cannot run here.
    std::function<std::unique_ptr<test::Real_Ftp_Server>(const std::string& pem, std::string& why)>
        start;
    const char* host; // a name checks SNI and the name, an address the IP
};

class Ftps_Real_Server : public ::testing::TestWithParam<Real_Server_Case> {};

// pyftpdlib behind the same interface as the others.
class Pyftpdlib_Tls : public test::Real_Ftp_Server {
public:
    explicit Pyftpdlib_Tls(const std::string& pem) : server_({}, pem) {
        port_ = server_.Port();
        root_ = server_.Home().Path();
    }
    std::string Name() const override { return "pyftpdlib"; }
    static std::string User() { return test::Pyftpdlib_Server::kUser; }
    static std::string Password() { return test::Pyftpdlib_Server::kPassword; }

private:
    test::Pyftpdlib_Server server_;
};

TEST_P(Ftps_Real_Server, Uploads_Pictures_Intact_And_Passes_The_Connection_Test) {
    const Trust_Store trust;
    std::string why;
    const std::unique_ptr<test::Real_Ftp_Server> server =
        GetParam().start(trust.Server_File(), why);
    if (!server)
        GTEST_SKIP() << why;
    const bool pyftpdlib = server->Name() == "pyftpdlib";
    Uploader uploader("ftps://" + std::string(GetParam().host) + ":" +
                          std::to_string(server->Port()),
                      pyftpdlib ? Pyftpdlib_Tls::User() : test::Real_Ftp_Server::kUser,
                      pyftpdlib ? Pyftpdlib_Tls::Password() : test::Real_Ftp_Server::kPassword);
    uploader.Record("RIDEV_2026_12_09/D0001/", "I_10_00_00__00001.jpg", Picture(1));
    uploader.Record("RIDEV_2026_12_09/D0001/", "I_10_00_01__00002.jpg", Picture(2));
    uploader.Record("RIDEV_2026_12_09/R0002/", "I_10_05_00__00003.jpg", Picture(3));

    // Each run ends within about one sampling period, as it does in the
    // window: runs follow until the queue is empty or one sends nothing.
    for (size_t left = uploader.files.Unsent_Count(); left > 0;) {
        uploader.worker.TRH_FtpRun();
        if (uploader.files.Unsent_Count() == left)
            break;
        left = uploader.files.Unsent_Count();
    }
    EXPECT_EQ(uploader.files.Unsent_Count(), 0u) << uploader.All_Statuses() << "\n"
                                                 << server->Log();
    const std::filesystem::path& root = server->Root();
    EXPECT_TRUE(Same_Bytes(test::Bytes_Of(root / "RIDEV_2026_12_09_D0001/I_10_00_00__00001.jpg"),
                           Picture(1)));
    EXPECT_TRUE(Same_Bytes(test::Bytes_Of(root / "RIDEV_2026_12_09_D0001/I_10_00_01__00002.jpg"),
                           Picture(2)));
    EXPECT_TRUE(Same_Bytes(test::Bytes_Of(root / "RIDEV_2026_12_09_R0002/I_10_05_00__00003.jpg"),
                           Picture(3)));

    uploader.local.Write("datas.ini", "[string]\r\nEDT_FTP_Password=s3cret\r\n");
    EXPECT_TRUE(
        Run_Connection_Test(uploader.client, uploader.settings, uploader.local.File("datas.ini")));
    EXPECT_EQ(test::Bytes_Of(root / "datas.ini"), "[string]\r\nEDT_FTP_Password=\r\n");
    uploader.client.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, Ftps_Real_Server,
    ::testing::Values(Real_Server_Case{"pyftpdlib",
                                       [](const std::string& pem, std::string&) {
                                           return std::unique_ptr<test::Real_Ftp_Server>(
                                               std::make_unique<Pyftpdlib_Tls>(pem));
                                       },
                                       "127.0.0.1"},
                      Real_Server_Case{"proftpd", test::Start_Proftpd, "localhost"},
                      Real_Server_Case{"vsftpd", test::Start_Vsftpd, "localhost"}),
    [](const ::testing::TestParamInfo<Real_Server_Case>& info) { return info.param.name; });

// ---- What the client refuses, before anything is sent --------------------

bool Sent_Credentials(const Lines& commands) {
    return std::any_of(commands.begin(), commands.end(), [](const std::string& line) {
        return line.starts_with("USER") || line.starts_with("PASS");
    });
}

TEST(Ftps_Refusals, Nothing_Goes_To_A_Server_That_Cannot_Be_Trusted_And_The_Pictures_Stay) {
    const Trust_Store trust;
    const Test_Certificate self_signed("localhost", test::Loopback_Names());
    const Test_Certificate expired("localhost", test::Loopback_Names(), trust.authority,
                                   {std::chrono::hours(-48), std::chrono::hours(-24)});
    const Test_Certificate future("localhost", test::Loopback_Names(), trust.authority,
                                  {std::chrono::hours(24), std::chrono::hours(48)});
    const Test_Certificate other_host("other.example", {"DNS:other.example"}, trust.authority);
    const Test_Certificate other_self_signed("localhost", test::Loopback_Names());
    struct Case {
        const char* name;
        const Test_Certificate* certificate; // null: AUTH TLS is refused
        std::string pinned;
        std::string status; // what LBL_FTP_Status says at the end, or its start
    };
    const Case cases[] = {
        {"AUTH TLS refused", nullptr, "",
         "The server does not offer encryption (AUTH TLS refused)"},
        {"self-signed, no pin", &self_signed, "",
         "The server's certificate is not trusted (self-signed certificate)"},
        {"pin of another certificate", &self_signed, other_self_signed.Fingerprint(),
         "The server's certificate has changed; run the connection test to trust it again"},
        {"expired", &expired, "", "The server's certificate has expired: it is valid from "},
        {"expired though pinned", &expired, expired.Fingerprint(),
         "The server's certificate has expired: it is valid from "},
        {"not yet valid", &future, "",
         "The server's certificate is not valid yet: it is valid from "},
        {"another host's", &other_host, "",
         "The server's certificate is not trusted (hostname mismatch)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<test::Ftp_Step> script = {test::Send("220 ready"), test::Expect("AUTH TLS")};
        if (c.certificate == nullptr) {
            script.push_back(test::Send("530 Please login with USER and PASS."));
        } else {
            script.push_back(test::Send("234 Proceed with negotiation."));
            script.push_back(test::Start_Tls(trust.Server_File(*c.certificate, "case.pem")));
        }
        const test::Fake_Ftp_Server server(script);
        Uploader uploader("ftps://localhost:" + std::to_string(server.Port()), "cam", "s3cret");
        uploader.client.Pinned_Certificate = [&](const std::string& host, uint16_t port) {
            EXPECT_EQ(host, "localhost");
            EXPECT_EQ(port, server.Port());
            return c.pinned;
        };
        uploader.Record("RIDEV_2026_12_09/D0001/", "I_10_00_00__00001.jpg", "jpeg");
        uploader.worker.TRH_FtpRun();
        EXPECT_EQ(uploader.files.Unsent_Count(), 1u);
        EXPECT_TRUE(uploader.Last_Status().starts_with(c.status)) << uploader.All_Statuses();
        EXPECT_FALSE(uploader.client.Is_Connected());
        EXPECT_TRUE(server.Wait_Until_Closed(std::chrono::seconds(5)));
        EXPECT_FALSE(Sent_Credentials(server.Commands()))
            << testing::PrintToString(server.Commands());
        // Not even a QUIT goes to a server that could not be trusted.
        if (c.certificate != nullptr) {
            ASSERT_FALSE(server.Commands().empty());
            EXPECT_EQ(server.Commands().back(), "AUTH TLS")
                << testing::PrintToString(server.Commands());
        }
        EXPECT_TRUE(server.Mismatches().empty()) << testing::PrintToString(server.Mismatches());
    }
}

TEST(Ftps_Refusals, The_Dates_Of_A_Refused_Certificate_Are_Named) {
    const Trust_Store trust;
    const Test_Certificate expired("localhost", test::Loopback_Names(), trust.authority,
                                   {std::chrono::hours(-24 * 400), std::chrono::hours(-24 * 30)});
    const test::Fake_Ftp_Server server({test::Send("220 ready"), test::Expect("AUTH TLS"),
                                        test::Send("234 go"),
                                        test::Start_Tls(trust.Server_File(expired, "old.pem"))});
    FTP_Client client;
    client.Set_Server("ftps://127.0.0.1:" + std::to_string(server.Port()));
    try {
        client.Connect();
        FAIL() << "an expired certificate must be refused";
    } catch (const Certificate_Error& e) {
        EXPECT_EQ(e.Problem(), Certificate_Problem::Expired);
        const Certificate_Info& shown = e.Peer().Certificate;
        EXPECT_EQ(shown.Fingerprint, expired.Fingerprint());
        EXPECT_EQ(shown.Subject, "CN=localhost,O=Vistrel tests");
        EXPECT_EQ(shown.Issuer, "CN=Vistrel test authority,O=Vistrel tests");
        EXPECT_NE(std::string(e.what()).find(shown.Not_Before + " to " + shown.Not_After),
                  std::string::npos)
            << e.what();
        EXPECT_EQ(e.Host(), "127.0.0.1");
        EXPECT_EQ(e.Port(), server.Port());
    }
}

TEST(Ftps_Pinning, A_Pinned_Self_Signed_Certificate_Lets_The_Login_Through_Encrypted) {
    const Trust_Store trust;
    const Test_Certificate self_signed("nas", {"DNS:nas.local"});
    const test::Fake_Ftp_Server server(test::Joined(
        {test::Send("220 ready"), test::Expect("AUTH TLS"), test::Send("234 go"),
         test::Start_Tls(trust.Server_File(self_signed, "nas.pem"))},
        {test::Expect("USER cam"), test::Send("331 password"), test::Expect("PASS s3cret"),
         test::Send("230 in"), test::Expect("FEAT"), test::Send("500 no"), test::Expect("TYPE I"),
         test::Send("200 binary"), test::Expect("PWD"), test::Send("257 \"/\" is current")}));
    FTP_Client client;
    // An address the certificate does not name: the pin is what is trusted.
    client.Set_Server("ftps://127.0.0.1:" + std::to_string(server.Port()));
    client.Set_Credentials("cam", "s3cret");
    client.Pinned_Certificate = [&](const std::string&, uint16_t) {
        return self_signed.Fingerprint();
    };
    client.Connect();
    client.Login();
    EXPECT_EQ(client.Get_Current_Dir(), "/");
    EXPECT_TRUE(server.Mismatches().empty()) << testing::PrintToString(server.Mismatches());
}

TEST(Ftps_Refusals, Bytes_Sent_In_Clear_After_The_Consent_Are_Refused) {
    // A man in the middle could add a reply after 234, in clear, to be taken
    // for the answer to the first command sent under TLS.
    const test::Fake_Ftp_Server server(
        {test::Send("220 ready"), test::Expect("AUTH TLS"), test::Send("234 go\n230 logged in")});
    FTP_Client client;
    client.Set_Server("ftps://127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_THROW(client.Connect(), FTP_Error);
    EXPECT_FALSE(client.Is_Connected());
    EXPECT_FALSE(Sent_Credentials(server.Commands()));
}

TEST(Ftps_Close, Closing_During_A_Handshake_That_Never_Ends_Returns_At_Once) {
    // The server consents, then never answers the handshake.
    const test::Fake_Ftp_Server server({test::Send("220 ready"), test::Expect("AUTH TLS"),
                                        test::Send("234 go"), test::Reconnect()});
    FTP_Client client;
    client.Set_Server("ftps://127.0.0.1:" + std::to_string(server.Port()));
    std::atomic<bool> failed{false};
    std::thread connecting([&] {
        try {
            client.Connect();
        } catch (const FTP_Error&) {
            failed = true;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto closing = Steady_Clock::now();
    client.Abort_Transfer();
    client.Disconnect();
    client.Close_For_Good();
    connecting.join();
    EXPECT_LT(Steady_Clock::now() - closing, std::chrono::seconds(2));
    EXPECT_TRUE(failed);
}

// A store over TLS whose server hangs as the transfer begins: each way of
// closing from another thread ends it at once, and no thread is left in TLS.
TEST(Ftps_Close, Closing_From_Another_Thread_Cuts_A_Hung_Encrypted_Store_At_Once) {
    const Trust_Store trust;
    const test::Temp_Dir local;
    local.Write("big.jpg", std::string(8 << 20, 'x'));
    const std::string picture = local.File("big.jpg");
    const std::pair<const char*, std::function<void(FTP_Client&)>> closes[] = {
        {"abort", [](FTP_Client& c) { c.Abort_Transfer(); }},
        {"disconnect", [](FTP_Client& c) { c.Disconnect(); }},
        {"the close step",
         [](FTP_Client& c) {
             c.Abort_Transfer();
             c.Disconnect();
             c.Close_For_Good();
         }},
    };
    for (const auto& [name, close] : closes) {
        SCOPED_TRACE(name);
        test::Pyftpdlib_Server server({}, trust.Server_File());
        FTP_Client client;
        client.Set_Server("ftps://localhost:" + std::to_string(server.Port()));
        client.Set_Credentials(test::Pyftpdlib_Server::kUser, test::Pyftpdlib_Server::kPassword);
        client.Read_Timeout = client.Stall_Timeout = std::chrono::seconds(30);
        std::atomic<bool> paused{false};
        client.OnStatus = [&](Ftp_Status, const std::string& text) {
            if (text.starts_with("Transferring") && !paused.exchange(true))
                server.Pause();
        };
        client.Connect();
        client.Login();
        auto storing = std::async(std::launch::async, [&] {
            try {
                client.Put_File(picture, "big.jpg", false);
                return std::string("stored");
            } catch (const FTP_Error&) {
                return std::string("failed");
            } catch (const std::exception& e) {
                return std::string("other error: ") + e.what();
            }
        });
        const auto waiting = Steady_Clock::now();
        while (!paused && Steady_Clock::now() - waiting < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(paused) << "the transfer never began";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto closing = Steady_Clock::now();
        close(client);
        // A wait that the close did not end fails here rather than hanging.
        if (storing.wait_for(std::chrono::seconds(40)) != std::future_status::ready) {
            client.Close_For_Good();
            server.Resume();
            FAIL() << "the store was still waiting 40 s after the close";
        }
        EXPECT_LT(Steady_Clock::now() - closing, std::chrono::seconds(2));
        EXPECT_EQ(storing.get(), "failed");
        EXPECT_FALSE(client.Is_Connected());
        server.Resume();
    }
}

// ---- The verdict and the pins file ---------------------------------------

TEST(Judge_Certificate, Dates_First_Then_The_System_Then_The_Pin) {
    using enum Certificate_Problem;
    struct Case {
        bool verified;
        bool expired;
        bool not_yet_valid;
        const char* pinned;
        Certificate_Problem expected;
    };
    const Case cases[] = {
        {true, false, false, "", None},
        {true, false, false, "11:22", None}, // a real certificate now replaces the pinned one
        {false, false, false, "", Untrusted},
        {false, false, false, "AA:BB", None},
        {false, false, false, "11:22", Changed},
        {true, true, false, "", Expired},
        {false, true, false, "AA:BB", Expired},
        {false, false, true, "AA:BB", Not_Yet_Valid},
    };
    for (const Case& c : cases) {
        Tls_Peer peer;
        peer.Verified = c.verified;
        peer.Certificate.Expired = c.expired;
        peer.Certificate.Not_Yet_Valid = c.not_yet_valid;
        peer.Certificate.Fingerprint = "AA:BB";
        EXPECT_EQ(Judge_Certificate(peer, c.pinned), c.expected)
            << c.verified << c.expired << c.not_yet_valid << " pin " << c.pinned;
    }
}

TEST(Trusted_Servers, Pins_Are_Kept_Per_Host_And_Port_Owner_Only) {
    const test::Temp_Dir dir;
    const Trusted_Servers pins(dir.File(Trusted_Servers::kFile_Name));
    EXPECT_EQ(pins.Pinned("nas.local", 21), "") << "no file yet";
    pins.Pin("NAS.local", 21, "AA:BB");
    pins.Pin("::1", 2121, "CC:DD");
    pins.Pin("nas.local", 990, "EE:FF");
    EXPECT_EQ(pins.Pinned("nas.local", 21), "AA:BB");
    EXPECT_EQ(pins.Pinned("::1", 2121), "CC:DD");
    EXPECT_EQ(pins.Pinned("nas.local", 990), "EE:FF");
    EXPECT_EQ(pins.Pinned("nas.local", 2121), "");
    pins.Pin("nas.local", 21, "11:22");
    EXPECT_EQ(pins.Pinned("nas.local", 21), "11:22") << "a new pin replaces the old";
    EXPECT_EQ(test::Entries(dir.Path()), Lines{"trusted_servers.ini"}) << "no temporary left";
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("trusted_servers.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(Server_Key("NAS.Local", 21), "nas.local:21");
    EXPECT_EQ(Server_Key("fe80::1", 990), "[fe80::1]:990");
}

} // namespace
} // namespace vistrel
