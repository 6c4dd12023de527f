// An SSH server that refuses a picture or its folder: the SFTP client says
// so as a refusal, not as a lost connection, and the worker goes on with the
// pictures behind it.
#include "upload/sftp_client.h"
#include "upload/upload_worker.h"

#include "support/ftp_failure_of.h"
#include "support/sftp_fixture.h"
#include "support/sshd_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using test::Sftp_Server;

template <typename Action> Failure_Kind Kind_Of_Failure(Action action) {
    return test::Failure_Of(action).Kind();
}

// Made by root in the user's home: a plain file where a folder should be,
// and a folder the user may enter but not write into.
void Block_Folders(const fs::path& home) {
    std::ofstream(home / "RIDEV_2026_12_09_D0001") << "not a folder";
    fs::create_directory(home / "RIDEV_2026_12_09_D0003");
    ::chmod((home / "RIDEV_2026_12_09_D0003").c_str(), 0755);
}

TEST_F(Sftp_Server, Refusals_Of_A_Folder_Or_A_Picture_Are_Told_Apart_From_A_Lost_Connection) {
    Block_Folders(home);
    const fs::path picture = Picture(1, 1000);
    SFTP_Client client;
    Configure(client);
    Trust_The_Server(client);
    client.Connect();
    client.Login();
    EXPECT_EQ(Kind_Of_Failure([&] { client.Make_Dir("RIDEV_2026_12_09_D0001"); }),
              Failure_Kind::Refused);
    EXPECT_EQ(Kind_Of_Failure([&] { client.Change_Dir("RIDEV_2026_12_09_D0001"); }),
              Failure_Kind::Refused)
        << "a plain file of that name";
    EXPECT_EQ(Kind_Of_Failure([&] { client.Change_Dir("RIDEV_2026_12_09_D0002"); }),
              Failure_Kind::Refused)
        << "no such folder";
    client.Change_Dir("RIDEV_2026_12_09_D0003");
    EXPECT_EQ(Kind_Of_Failure(
                  [&] { client.Put_File(picture.string(), picture.filename().string(), false); }),
              Failure_Kind::Refused)
        << "permission denied";
    EXPECT_TRUE(client.Logged_In()) << "the session goes on after a refusal";
    EXPECT_EQ(Kind_Of_Failure(
                  [&] { client.Put_File((dir.Path() / "gone.jpg").string(), "g.jpg", false); }),
              Failure_Kind::Local_File_Gone);

    // The same request on a session cut meanwhile is no refusal.
    client.Disconnect();
    EXPECT_EQ(Kind_Of_Failure([&] { client.Change_Dir("RIDEV_2026_12_09_D0001"); }),
              Failure_Kind::Connection);
}

TEST_F(Sftp_Server, Refused_Episodes_Leave_The_Queue_And_Hold_Back_None_Behind_Them) {
    Block_Folders(home);
    Uploading up(*this);
    // A run goes on for a sampling period: a long one, so that a busy
    // machine cannot end a run before it has been offered every picture.
    up.settings.Sampling_ms = 60000;
    SFTP_Client learn;
    Configure(learn);
    Trust_The_Server(learn);
    struct Recorded {
        fs::path path;
        const char* folder;
    };
    const Recorded recorded[] = {
        {Picture(1, 1000), "RIDEV_2026_12_09/D0001/"}, // a plain file has the name
        {Picture(2, 1000), "RIDEV_2026_12_09/D0002/"},
        {Picture(3, 1000), "RIDEV_2026_12_09/D0003/"}, // not writable
        {Picture(4, 1000), "RIDEV_2026_12_09/D0004/"},
    };
    for (const Recorded& r : recorded)
        up.files.Append({r.path.string(), r.path.filename().string(), r.folder, false});

    up.worker.TRH_FtpRun();
    EXPECT_TRUE(fs::exists(home / "RIDEV_2026_12_09_D0002" / recorded[1].path.filename()));
    EXPECT_TRUE(fs::exists(home / "RIDEV_2026_12_09_D0004" / recorded[3].path.filename()));
    EXPECT_EQ(up.files.Unsent_Count(), 2u);
    up.worker.TRH_FtpRun();
    EXPECT_EQ(up.files.Unsent_Count(), 2u);
    up.worker.TRH_FtpRun();
    EXPECT_EQ(up.files.Unsent_Count(), 0u);
    EXPECT_EQ(up.worker.Refused_Count(), 2u);
    EXPECT_EQ(test::Bytes_Of(home / "RIDEV_2026_12_09_D0004" / recorded[3].path.filename()),
              test::Bytes_Of(recorded[3].path));
    EXPECT_FALSE(fs::exists(home / "RIDEV_2026_12_09_D0003" /
                            (recorded[2].path.filename().string() + ".part")));
}

} // namespace
} // namespace vistrel
