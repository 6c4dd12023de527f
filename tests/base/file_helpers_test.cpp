#include "base/file_helpers.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using test::Entries;
using test::Mode_Of;

TEST(Read_Whole_File, Tells_A_Missing_File_From_An_Empty_One) {
    const test::Temp_Dir dir;
    EXPECT_EQ(Read_Whole_File(dir.File("missing")), std::nullopt);

    dir.Write("empty", "");
    EXPECT_EQ(Read_Whole_File(dir.File("empty")), std::optional<std::string>(""));

    // Bytes come back untouched: no line-end translation, no stop at a zero.
    const std::string bytes = std::string("a\r\nb\n\0c", 7) + std::string(40000, 'z');
    dir.Write("bytes", bytes);
    EXPECT_EQ(Read_Whole_File(dir.File("bytes")), std::optional<std::string>(bytes));

    EXPECT_THROW(Read_Whole_File(dir.Folder()), std::system_error);
}

TEST(Write_File_Atomically, Creates_With_The_New_File_Mode) {
    const test::Temp_Dir dir;
    Write_File_Atomically(dir.File("secret.ini"), "pw=1\r\n", 0600);
    Write_File_Atomically(dir.File("plain.txt"), "x");
    EXPECT_EQ(dir.Read("secret.ini"), "pw=1\r\n");
    EXPECT_EQ(Mode_Of(dir.File("secret.ini")), 0600u);
    EXPECT_EQ(Mode_Of(dir.File("plain.txt")), 0644u);
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"plain.txt", "secret.ini"}));
}

TEST(Write_File_Atomically, Replaces_The_Content_And_Keeps_The_Mode) {
    const test::Temp_Dir dir;
    const std::string path = dir.File("datas.ini");
    dir.Write("datas.ini", "a much longer old content\r\n");
    fs::permissions(path, fs::perms(0640));

    Write_File_Atomically(path, "new", 0600);
    EXPECT_EQ(dir.Read("datas.ini"), "new");
    EXPECT_EQ(Mode_Of(path), 0640u);

    Write_File_Atomically(path, "", 0600);
    EXPECT_EQ(Read_Whole_File(path), std::optional<std::string>(""));
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
}

TEST(Write_File_Atomically, Writes_Through_A_Symbolic_Link) {
    const test::Temp_Dir dir;
    dir.Write("real/datas.ini", "old");
    fs::permissions(dir.File("real/datas.ini"), fs::perms(0604));
    // A relative link and a link to a link, as a dotfiles setup makes them.
    fs::create_symlink("real/datas.ini", dir.File("link.ini"));
    fs::create_symlink(dir.File("link.ini"), dir.File("link2.ini"));

    Write_File_Atomically(dir.File("link.ini"), "one", 0600);
    EXPECT_TRUE(fs::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(dir.Read("real/datas.ini"), "one");

    Write_File_Atomically(dir.File("link2.ini"), "two", 0600);
    EXPECT_TRUE(fs::is_symlink(dir.File("link2.ini")));
    EXPECT_TRUE(fs::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(dir.Read("real/datas.ini"), "two");
    EXPECT_EQ(Mode_Of(dir.File("real/datas.ini")), 0604u);
    EXPECT_EQ(Entries(dir.File("real")), std::vector<std::string>{"datas.ini"});
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"link.ini", "link2.ini", "real"}));
}

TEST(Write_File_Atomically, A_Link_To_A_File_Not_Yet_There_Creates_The_Target) {
    const test::Temp_Dir dir;
    fs::create_directory(dir.File("real"));
    fs::create_symlink("real/datas.ini", dir.File("link.ini"));

    Write_File_Atomically(dir.File("link.ini"), "first", 0600);
    EXPECT_TRUE(fs::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(dir.Read("real/datas.ini"), "first");
}

TEST(Write_File_Atomically, A_New_File_Has_Its_Mode_Exactly_Or_Less_The_Umask) {
    struct Case {
        mode_t mode;
        Mode_Rule rule;
        mode_t umask;
        unsigned expected;
    };
    const Case cases[] = {
        {0600, Mode_Rule::Exact, 022, 0600},      {0644, Mode_Rule::Exact, 077, 0644},
        {0666, Mode_Rule::Less_Umask, 022, 0644}, {0666, Mode_Rule::Less_Umask, 077, 0600},
        {0666, Mode_Rule::Less_Umask, 0, 0666},   {0640, Mode_Rule::Less_Umask, 002, 0640},
    };
    const test::Temp_Dir dir;
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir.File("file" + std::to_string(n++));
        SCOPED_TRACE(path);
        const mode_t saved = ::umask(c.umask);
        Write_File_Atomically(path, "x", c.mode, Durability::Program_Crash, c.rule);
        ::umask(saved);
        EXPECT_EQ(Mode_Of(path), c.expected);
    }
}

// The rename would replace a file the user made read-only; it is refused
// instead, also for root, who could write it anyway.
TEST(Write_File_Atomically, A_Read_Only_File_Is_Left_As_It_Is) {
    const test::Temp_Dir dir;
    const std::string path = dir.File("datas.ini");
    for (const unsigned mode : {0444u, 0400u, 0000u}) {
        SCOPED_TRACE(mode);
        dir.Write("datas.ini", "kept");
        fs::permissions(path, fs::perms(mode));
        for (const Mode_Rule rule : {Mode_Rule::Exact, Mode_Rule::Less_Umask})
            EXPECT_THROW(
                Write_File_Atomically(path, "replaced", 0644, Durability::Program_Crash, rule),
                std::system_error);
        fs::permissions(path, fs::perms(0600));
        EXPECT_EQ(dir.Read("datas.ini"), "kept");
        EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
        fs::remove(path);
    }
}

TEST(Write_File_Atomically, A_Failure_Throws_And_Leaves_No_Temporary_File) {
    const test::Temp_Dir dir;
    EXPECT_THROW(Write_File_Atomically(dir.File("missing/datas.ini"), "x"), std::system_error);
    EXPECT_TRUE(Entries(dir.Path()).empty());

    // The rename fails only once the temporary file has been written in full.
    fs::create_directory(dir.File("datas.ini"));
    EXPECT_THROW(Write_File_Atomically(dir.File("datas.ini"), "x"), std::system_error);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
    EXPECT_TRUE(fs::is_directory(dir.File("datas.ini")));
}

TEST(Remove_Stale_Temporaries, Removes_Only_Old_Temporaries_Of_That_File) {
    const test::Temp_Dir dir;
    const auto age = [&](const std::string& name, std::chrono::minutes minutes) {
        dir.Write(name, "x");
        fs::last_write_time(dir.File(name), fs::file_time_type::clock::now() - minutes);
    };
    age("datas.ini", std::chrono::minutes(10));
    age("datas.ini.vistrel-tmp-a1B2c3", std::chrono::minutes(10)); // cut short by a kill
    age("datas.ini.vistrel-tmp-Zz9Yy8", std::chrono::minutes(2));
    // Another process is writing this one.
    age("datas.ini.vistrel-tmp-fresh1", std::chrono::minutes(0));
    // The user's own copies, however they are named.
    for (const char* kept : {"datas.ini.bak", "datas.ini.backup", "datas.ini.saved1",
                             "datas.ini.a1B2c3", "datas.ini.vistrel-tmp-a1B2c",
                             "datas.ini.vistrel-tmp-a1B2c3d", "datas.ini.vistrel-tmp-a1-2c3",
                             "appli.ini.vistrel-tmp-a1B2c3", "xdatas.ini.vistrel-tmp-a1B2c3"})
        age(kept, std::chrono::minutes(10));
    fs::create_directory(dir.File("datas.ini.vistrel-tmp-folder"));

    Remove_Stale_Temporaries(dir.File("datas.ini"));

    EXPECT_EQ(Entries(dir.Path()),
              (std::vector<std::string>{
                  "appli.ini.vistrel-tmp-a1B2c3", "datas.ini", "datas.ini.a1B2c3",
                  "datas.ini.backup", "datas.ini.bak", "datas.ini.saved1",
                  "datas.ini.vistrel-tmp-a1-2c3", "datas.ini.vistrel-tmp-a1B2c",
                  "datas.ini.vistrel-tmp-a1B2c3d", "datas.ini.vistrel-tmp-folder",
                  "datas.ini.vistrel-tmp-fresh1", "xdatas.ini.vistrel-tmp-a1B2c3"}));
}

TEST(Write_File_Atomically, A_Process_Killed_Mid_Write_Leaves_The_Old_File_Whole) {
    const test::Temp_Dir dir;
    const std::string old_content = "[integer]\r\nEDT_Timer_Refresh=200\r\n";
    dir.Write("datas.ini", old_content);
    // The file size limit kills the writer (SIGXFSZ) part-way through the
    // new content, as a kill at a random moment would.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        Write_File_Atomically(dir.File("datas.ini"), std::string(5000, 'x'));
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the writer was not cut off";

    EXPECT_EQ(dir.Read("datas.ini"), old_content);
    const std::vector<std::string> left = Entries(dir.Path());
    ASSERT_EQ(left.size(), 2u);
    EXPECT_TRUE(left[1].starts_with("datas.ini.vistrel-tmp-")) << left[1];
    // The next start removes what the killed write left.
    Remove_Stale_Temporaries(dir.File("datas.ini"), std::chrono::seconds(0));
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"datas.ini"});
    EXPECT_EQ(dir.Read("datas.ini"), old_content);
}

TEST(Remove_Stale_Temporaries, Looks_Beside_The_File_A_Link_Leads_To) {
    const test::Temp_Dir dir;
    fs::create_directory(dir.File("real"));
    dir.Write("real/datas.ini", "x");
    dir.Write("real/datas.ini.vistrel-tmp-k3Lm9Q", "x");
    dir.Write("datas.ini.vistrel-tmp-k3Lm9Q", "x"); // not a temporary of the link's target
    fs::create_symlink(dir.File("real/datas.ini"), dir.File("datas.ini"));

    Remove_Stale_Temporaries(dir.File("datas.ini"), std::chrono::seconds(0));

    EXPECT_EQ(Entries(dir.File("real")), std::vector<std::string>{"datas.ini"});
    EXPECT_TRUE(fs::exists(dir.File("datas.ini.vistrel-tmp-k3Lm9Q")));
    // A folder that is not there is no error.
    Remove_Stale_Temporaries(dir.File("missing/datas.ini"), std::chrono::seconds(0));
}

} // namespace
} // namespace vistrel
