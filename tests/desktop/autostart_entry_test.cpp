#include "desktop/autostart_entry.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <system_error>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

TEST(Autostart_File_Path, FollowsXdgConfigHomeOrTheHomeFolder) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> environment;
        std::string expected;
    };
    const Case cases[] = {
        {"XDG_CONFIG_HOME",
         {{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/u"}},
         "/cfg/autostart/vistrel.desktop"},
        {"trailing slash", {{"XDG_CONFIG_HOME", "/cfg/"}}, "/cfg/autostart/vistrel.desktop"},
        {"relative is ignored",
         {{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/u"}},
         "/home/u/.config/autostart/vistrel.desktop"},
        {"empty is ignored",
         {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}},
         "/home/u/.config/autostart/vistrel.desktop"},
        {"neither", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Autostart_File_Path([&](const char* name) -> std::optional<std::string> {
                      const auto found = c.environment.find(name);
                      return found == c.environment.end()
                                 ? std::nullopt
                                 : std::optional<std::string>(found->second);
                  }),
                  c.expected);
    }
}

TEST(Desktop_Exec_Argument, QuotesAndEscapesWhatTheFormatReserves) {
    struct Case {
        std::string program;
        std::string expected;
    };
    const Case cases[] = {
        {"/usr/bin/vistrel", "/usr/bin/vistrel"},
        {"/opt/my apps/vistrel", "\"/opt/my apps/vistrel\""},
        {"/opt/100%/vistrel", "\"/opt/100%%/vistrel\""},
        {"/opt/a\"b/vistrel", "\"/opt/a\\\\\"b/vistrel\""},
        {"/opt/$HOME/vistrel", "\"/opt/\\\\$HOME/vistrel\""},
        {"/opt/back\\slash", "\"/opt/back\\\\\\\\slash\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Desktop_Exec_Argument(c.program), c.expected) << c.program;
}

TEST(Set_Autostart, WritesAndRemovesTheEntryAndReadsWhatDesktopsSwitchOff) {
    const test::Temp_Dir dir;
    const std::string path = dir.Folder() + "config/autostart/vistrel.desktop";
    EXPECT_FALSE(Autostart_Enabled(path));

    Set_Autostart(path, true, "/usr/bin/vistrel");
    EXPECT_TRUE(Autostart_Enabled(path));
    const std::string text = dir.Read("config/autostart/vistrel.desktop");
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n")) << text;
    EXPECT_NE(text.find("\nExec=/usr/bin/vistrel\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;

    dir.Write("config/autostart/vistrel.desktop", text + "Hidden=true\n");
    EXPECT_FALSE(Autostart_Enabled(path));

    Set_Autostart(path, false, "/usr/bin/vistrel");
    EXPECT_FALSE(fs::exists(path));
    Set_Autostart(path, false, "/usr/bin/vistrel"); // already gone: nothing to do
    EXPECT_THROW(Set_Autostart("", true, "/usr/bin/vistrel"), std::system_error);
}

} // namespace
} // namespace vistrel
