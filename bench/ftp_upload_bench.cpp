// Time of one picture's upload (40 KB) to a pyftpdlib server on the loopback
// interface, in wall-clock time since the server's work counts:
//   ./build/bench/vistrel_bench_ftp
// Steady: the upload of a picture of the episode in progress, on a connection
// already open and logged in (PWD, then the store). First_Of_Episode: the first
// picture of an episode, which also moves up, lists, creates the folder and
// enters it. Each runs in clear ("plain") and over explicit TLS ("ftps", a
// self-signed certificate pinned as the connection test pins it), side by
// side; and the steady case over SFTP to OpenSSH's sshd.
#include "upload/ftp_client.h"
#include "upload/sftp_client.h"

#include "support/fake_ftp_server.h"
#include "support/sshd_server.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace vistrel;

constexpr const char* kPicture_Name = "I_14_05_09__00012.jpg";

// The server's certificate, when it speaks TLS, and where it is kept.
struct Certificate {
    explicit Certificate(bool tls) {
        if (tls)
            certificate.Write_With_Key(dir.Path() / "server.pem");
    }
    std::string File() const { return (dir.Path() / "server.pem").string(); }
    test::Temp_Dir dir;
    test::Test_Certificate certificate{"localhost", test::Loopback_Names()};
};

struct Setup {
    Certificate certificate;
    test::Pyftpdlib_Server server;
    test::Temp_Dir local;
    FTP_Client client;

    explicit Setup(bool tls) : certificate(tls), server({}, tls ? certificate.File() : "") {
        std::string picture;
        for (int i = 0; i < 40 * 1024; ++i)
            picture += static_cast<char>((i * 131 + i / 256) % 256);
        local.Write(kPicture_Name, picture);
        client.Set_Server((tls ? "ftps://127.0.0.1:" : "127.0.0.1:") +
                          std::to_string(server.Port()));
        client.Pinned_Certificate = [this](const std::string&, uint16_t) {
            return certificate.certificate.Fingerprint();
        };
        client.Set_Credentials(test::Pyftpdlib_Server::kUser, test::Pyftpdlib_Server::kPassword);
        client.Connect();
        client.Login();
    }
    std::string Picture() const { return local.File(kPicture_Name); }
};

void BM_Upload_Steady(benchmark::State& state, bool tls) {
    Setup setup(tls);
    setup.client.Make_Dir("RIDEV_2026_12_08_R0001");
    setup.client.Change_Dir("RIDEV_2026_12_08_R0001");
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup.client.Get_Current_Dir());
        setup.client.Put_File(setup.Picture(), kPicture_Name, false);
    }
}
BENCHMARK_CAPTURE(BM_Upload_Steady, plain, false)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Upload_Steady, ftps, true)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same picture to OpenSSH's sshd over SFTP, on an open session: written
// as NAME.part and renamed into place. Needs root and the test user that
// scripts/test makes.
void BM_Upload_Steady_Sftp(benchmark::State& state) {
    std::filesystem::path home;
    if (!test::Sshd_Can_Run(&home)) {
        state.SkipWithError("needs root, sshd and the SFTP test user (scripts/test makes it)");
        return;
    }
    test::Temp_Dir server_dir;
    const uint16_t port = test::Free_Loopback_Port();
    test::Sshd sshd(server_dir.Path(), port, "host_key");
    test::Temp_Dir local;
    std::string picture;
    for (int i = 0; i < 40 * 1024; ++i)
        picture += static_cast<char>((i * 131 + i / 256) % 256);
    local.Write(kPicture_Name, picture);
    SFTP_Client client;
    client.Set_Server("sftp://127.0.0.1:" + std::to_string(port));
    client.Set_Credentials(test::kSftp_User, test::kSftp_Password);
    client.Known_Hosts_File = (server_dir.Path() / "known_hosts").string();
    try {
        client.Connect();
    } catch (const Host_Key_Error& unknown) {
        Trust_Host_Key(client.Known_Hosts_File, unknown);
        client.Connect();
    }
    client.Login();
    client.Make_Dir("RIDEV_2026_12_08_R0001");
    client.Change_Dir("RIDEV_2026_12_08_R0001");
    for (auto _ : state) {
        benchmark::DoNotOptimize(client.Get_Current_Dir());
        client.Put_File(local.File(kPicture_Name), kPicture_Name, false);
    }
}
BENCHMARK(BM_Upload_Steady_Sftp)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Upload_First_Of_Episode(benchmark::State& state, bool tls) {
    Setup setup(tls);
    setup.client.Make_Dir("RIDEV_2026_12_08_R0000");
    setup.client.Change_Dir("RIDEV_2026_12_08_R0000");
    const std::string folder = "RIDEV_2026_12_08_R0001";
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup.client.Get_Current_Dir());
        setup.client.Change_Dir_Up();
        setup.client.List_Dir();
        setup.client.Make_Dir(folder);
        setup.client.Change_Dir(folder);
        setup.client.Put_File(setup.Picture(), kPicture_Name, false);

        // Back to where the next episode starts, with the listing as short as
        // before, outside the timing.
        state.PauseTiming();
        setup.client.Change_Dir_Up();
        std::filesystem::remove_all(setup.server.Home().Path() / folder);
        setup.client.Change_Dir("RIDEV_2026_12_08_R0000");
        state.ResumeTiming();
    }
}
BENCHMARK_CAPTURE(BM_Upload_First_Of_Episode, plain, false)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Upload_First_Of_Episode, ftps, true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
